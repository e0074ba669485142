#pragma once

// The sandbox installation that scripts/sandbox.sh lays out in the Wine prefix, and small helpers that
// keep each Wine test's set-up to a line or two.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace sandbox {

// C:\Program Files\Corvane\ and what lies in it.
std::wstring InstallFolder();
std::wstring ServiceExePath();
std::wstring AppExePath();
// Folder of the running test executable, with a trailing backslash.
std::wstring TestExeFolder();
// build/windows/testdata as seen from Windows (Z:\...), with a trailing backslash.
std::wstring TestDataFolder();

constexpr wchar_t kInstallKey[] = L"Software\\Halvex\\Corvane";
constexpr wchar_t kUserSid[] = L"S-1-5-21-0-0-0-1000";
// HKEY_USERS subkey of the console user's "Shell Folders".
std::wstring ShellFoldersKey();

// A registry value that is put back as it was when the guard goes away.
class RegistryValueGuard {
public:
    RegistryValueGuard(HKEY root, std::wstring subkey, std::wstring name);
    ~RegistryValueGuard();
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

    void Set(const std::wstring& value);
    void Delete();

private:
    HKEY m_root;
    std::wstring m_subkey;
    std::wstring m_name;
    bool m_existed = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_data;
};

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name);

// A fresh, empty folder under the temp folder, removed with its contents when the object goes away.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& hint = L"orvel");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }  // without a trailing backslash
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

void RemoveTree(const std::wstring& path);
bool PathExists(const std::wstring& path);
void CreateFolders(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// Makes a link from the Unix side (Wine's own link calls create nothing): a symbolic link, or a second
// hard link, at `link` to `target`, both Windows paths in the prefix. True once the link is there.
bool MakeUnixLink(const std::wstring& target, const std::wstring& link, bool symbolic);

std::wstring IniRead(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                     const wchar_t* fallback = L"<missing>");
void IniWrite(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* value);

// Runs a program with a command line (the program's own path first), waits for it at most timeoutMs
// and returns its exit code (or nullopt when it did not end in time; it is then terminated).
std::optional<DWORD> RunAndWait(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs,
                                const wchar_t* environment = nullptr);

// Polls condition every intervalMs until it is true or timeoutMs passes; returns its last value.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs, DWORD intervalMs = 50)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (condition()) {
            return true;
        }
        if (::GetTickCount64() - start >= timeoutMs) {
            return condition();
        }
        ::Sleep(intervalMs);
    }
}

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

} // namespace sandbox
