#pragma once

// The settings file BrisaRDP.ini shared with the application, and INI numbers.

#include <windows.h>

#include <string>

// Section names of BrisaRDP.ini.
constexpr wchar_t kServiceSection[] = L"Service";
constexpr wchar_t kCorvaneSection[] = L"Corvane";
constexpr wchar_t kBrisaRdpSection[] = L"BrisaRDP";

// Reads a text value of a section of the given file, at most capacity - 1 characters, as the console user
// and through the same checks as a write (see WriteIniText): the folders down to the file held, the file
// itself opened and checked by its handle and kept open until the read is done. Empty when the key is
// missing or empty, and when the file is absent or refused, the folder is not accepted as the user's, or
// nobody may work there. Nothing is created.
std::wstring ReadIniText(const std::wstring& path, const wchar_t* section, const wchar_t* key, DWORD capacity);

// Reads key as an integer the way the application writes it: the text (at most 127 characters) in the
// ANSI code page, leading blanks, an optional sign, digits up to the first other character; no digits
// give 0, values beyond 32 bits are clamped. An empty or missing key returns false and leaves *value
// untouched, and so does a file that ReadIniText does not read. A null or empty path, section or key
// returns false.
bool ReadIniInt(const wchar_t* path, const wchar_t* section, const wchar_t* key, int* value);

// Writes a text value to a section of the given file, as the console user (base/UserFolderAccess.h).
// An empty path writes nothing and returns FALSE: without a known user folder there is no settings
// file. So does a file that is a link (a reparse point, or a second hard link), a folder on the way
// down to it from the user's profile folder that is one, a folder that is not accepted as the user's,
// and a service without the console user's token. An absent file is created in a plain folder.
BOOL WriteIniText(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* value);
// Writes a number formatted with "%d".
BOOL WriteIniNumber(const std::wstring& path, const wchar_t* section, const wchar_t* key, int value);

// Section "Service" of the current settings file of the shared state (base/SharedState.h; the path is
// fetched afresh for each write).
BOOL WriteServiceText(const wchar_t* key, const wchar_t* value);
BOOL WriteServiceNumber(const wchar_t* key, int value);

// Progress keys of section "Service" (the client's and its start's): written only while no stop has
// begun, through the shared state's stop gate, so that the stop sequence's keys are the last word. FALSE,
// with nothing written, once a stop has begun.
BOOL WriteProgressText(const wchar_t* key, const wchar_t* value);
BOOL WriteProgressNumber(const wchar_t* key, int value);

// Reads an integer from section "Corvane" of the current settings file; 0 when missing or empty.
int ReadCorvaneInt(const wchar_t* key);
