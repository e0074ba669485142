#pragma once

// The installer's switch "runCorvane": start the companion application for the user at the end of an
// installation.

#include <string>

// Renames the shortcuts to the title (RenameShortCut); then, when appPath holds a backslash, looks for
// a running instance up to ten times in a row (the launch does not depend on it), starts the application
// at medium integrity with the command line "/nocheck:y" (CreateProcessMediumIL, see there for how),
// closes the handles it receives and waits 2 s. Returns CreateProcessMediumIL's result, or
// ERROR_BAD_PATHNAME when appPath holds no backslash and nothing was started. Main thread.
unsigned long StartCorvaneFromCommandLine(const std::wstring& appPath);
