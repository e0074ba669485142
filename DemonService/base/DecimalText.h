#pragma once

// Decimal numbers as the application writes them in INI files and messages.

// Leading blanks (space and \t\n\v\f\r) are skipped, an optional sign is taken, digits are read up to
// the first other character; no digits give 0. A value beyond the 32-bit range is clamped to the nearest
// limit. A null text gives 0.
int ParseDecimalInt(const char* text);
