#pragma once

// Conversions between the service's wide paths and the narrow ANSI text of logs, pipe and INI numbers.

#include <string>

// Converts with the ANSI code page; characters it cannot represent become the code page's default.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);
