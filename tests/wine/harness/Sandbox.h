#pragma once

// The sandbox installation that scripts/sandbox.sh lays out in the Wine prefix, and small helpers that
// keep each Wine test's set-up to a line or two. Every helper of the Wine tests lives in namespace
// harness, one helper per job: WaitFor waits, ToUtf8/FromUtf8 convert, InstallFolder and its friends
// name the installation, IniRead/IniWrite/IniDelete handle settings files.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace harness {

// C:\Program Files\Corvane\ (with its trailing backslash) and what lies in it: the service and the
// installed stand-in application.
std::wstring InstallFolder();
std::wstring ServiceExePath();
std::wstring AppExePath();
// Folder of the running test executable, with a trailing backslash.
std::wstring TestExeFolder();
// build/windows/testdata as seen from Windows (Z:\...), with a trailing backslash: the stand-in variants
// that are not installed in the sandbox (ResTextKeyEcho.dll, ResTextNoLoad.dll, app\unsigned\, ...).
std::wstring TestDataFolder();

constexpr wchar_t kInstallKey[] = L"Software\\Halvex\\Corvane";
// The sandbox's CD drive (GetDriveTypeW gives DRIVE_CDROM), backed by a folder that can be written.
constexpr wchar_t kCdromDrive[] = L"R:\\";
constexpr wchar_t kUserSid[] = L"S-1-5-21-0-0-0-1000";

// How long a test waits for a process, the service or a connection to start (or the service to go).
constexpr DWORD kStartTimeoutMs = 15000;
// How long it waits for a log line or a key that is on its way.
constexpr DWORD kLogTimeoutMs = 10000;
// The exit code of a process that the service terminated.
constexpr DWORD kTerminatedExitCode = 0xFFFFFFFF;
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
// The Unix path of the file or folder behind a Windows path (empty when Wine cannot tell).
std::string UnixPathOf(const std::wstring& path);

// A drive letter that stands for a folder of another drive, as a substituted drive does: Wine keeps its
// drives as links in the prefix's dosdevices folder (DefineDosDeviceW makes none that files open
// through). Mapped when the drive shows; the letter is freed again when the object goes away.
class MappedDrive {
public:
    MappedDrive(wchar_t letter, const std::wstring& target);
    ~MappedDrive();
    MappedDrive(const MappedDrive&) = delete;
    MappedDrive& operator=(const MappedDrive&) = delete;

    bool Mapped() const { return m_mapped; }
    std::wstring Root() const { return std::wstring(1, m_letter) + L":\\"; }

private:
    wchar_t m_letter;
    std::wstring m_unixLink;
    bool m_mapped = false;
};

// Gives Everyone full control of a folder through its access list, as a careless installer would. Wine
// keeps of a list only what the folder's Unix mode bits can hold (the owner's rights and everyone's),
// so this is the one kind of open folder a test can make there. True when the call succeeded.
bool OpenFolderToEveryone(const std::wstring& folder);

// Settings files. IniRead gives fallback ("<missing>") when the key is absent. IniWrite creates the
// file's folder; IniDelete removes a key and creates no file.
constexpr wchar_t kMissing[] = L"<missing>";
std::wstring IniRead(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                     const wchar_t* fallback = kMissing);
bool IniWrite(const std::wstring& path, const wchar_t* section, const wchar_t* key, const std::wstring& value);
bool IniDelete(const std::wstring& path, const wchar_t* section, const wchar_t* key);
// Section "Corvane", the application's flags ("exit", "hibernating", "HideToTray", "Restart", "AppExit").
constexpr wchar_t kCorvaneSection[] = L"Corvane";

// Runs a program with a command line (the program's own path first), waits for it at most timeoutMs
// and returns its exit code (or nullopt when it did not end in time; it is then terminated).
std::optional<DWORD> RunAndWait(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs,
                                const wchar_t* environment = nullptr);

// The one wait of the harness: polls condition every intervalMs until it is true or timeoutMs passes, and
// returns its last value (it is tried once more at the end).
constexpr DWORD kPollMs = 50;
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs, DWORD intervalMs = kPollMs)
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

// UTF-8 and wide text.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace harness
