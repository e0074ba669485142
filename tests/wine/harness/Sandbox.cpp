#include "Sandbox.h"

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <stdexcept>

#include "base/Win32Resources.h"

namespace harness {

std::wstring InstallFolder() { return L"C:\\Program Files\\Corvane\\"; }
std::wstring ServiceExePath() { return InstallFolder() + L"DemonService.exe"; }
std::wstring AppExePath() { return InstallFolder() + L"Corvane.exe"; }

std::wstring TestExeFolder()
{
    wchar_t path[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring text = path;
    return text.substr(0, text.rfind(L'\\') + 1);
}

std::wstring TestDataFolder()
{
    // The build tree is a Unix path; Wine shows the Unix root as drive Z:.
    std::wstring folder = L"Z:" + FromUtf8(ORVEL_TESTDATA_DIR);
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    return folder + L"\\";
}

std::wstring ShellFoldersKey()
{
    return std::wstring(kUserSid) + L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
}

RegistryValueGuard::RegistryValueGuard(HKEY root, std::wstring subkey, std::wstring name)
    : m_root(root), m_subkey(std::move(subkey)), m_name(std::move(name))
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(m_root, m_subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), m_name.c_str(), nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
        m_data.resize(size);
        ::RegQueryValueExW(key.get(), m_name.c_str(), nullptr, &m_type, m_data.data(), &size);
        m_existed = true;
    }
}

RegistryValueGuard::~RegistryValueGuard()
{
    UniqueRegKey key;
    if (::RegCreateKeyExW(m_root, m_subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    if (m_existed) {
        ::RegSetValueExW(key.get(), m_name.c_str(), 0, m_type, m_data.data(), static_cast<DWORD>(m_data.size()));
    } else {
        ::RegDeleteValueW(key.get(), m_name.c_str());
    }
}

void RegistryValueGuard::Set(const std::wstring& value)
{
    UniqueRegKey key;
    ::RegCreateKeyExW(m_root, m_subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    ::RegSetValueExW(key.get(), m_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RegistryValueGuard::Delete()
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(m_root, m_subkey.c_str(), 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), m_name.c_str());
    }
}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name)
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer);
}

TempFolder::TempFolder(const std::wstring& hint)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH * 2] = {};
        std::swprintf(name, MAX_PATH * 2, L"%ls%ls-%lu-%u", temp, hint.c_str(), ::GetCurrentProcessId(), ++counter);
        if (::CreateDirectoryW(name, nullptr)) {
            m_path = name;
            return;
        }
    }
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &found));
    if (find) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &found));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CreateFolders(const std::wstring& path)
{
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    ::CreateDirectoryW(path.c_str(), nullptr);
}

std::string ReadFileBytes(const std::wstring& path)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return std::string();
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (find) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (::FindNextFileW(find.get(), &found));
    }
    return names;
}

std::wstring IniRead(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* fallback)
{
    wchar_t text[4096] = {};
    ::GetPrivateProfileStringW(section, key, fallback, text, 4096, path.c_str());
    return text;
}

namespace {

// Wine's profile functions keep a parsed copy of each file per process and trust it while the file's
// last-write time is unchanged. That time comes from the kernel's coarse clock, so a write landing in
// the same tick as another process's last write would leave that process reading (and writing back) its
// old copy. A write therefore waits until the clock is clearly past the file's last-write time.
constexpr ULONGLONG kWriteTimeMarginTicks = 20 * 10000;  // 20 ms in 100 ns units

ULONGLONG AsTicks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

void WaitPastLastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return;
    }
    const ULONGLONG lastWrite = AsTicks(data.ftLastWriteTime);
    WaitFor(
        [lastWrite] {
            FILETIME now = {};
            ::GetSystemTimeAsFileTime(&now);
            return AsTicks(now) > lastWrite + kWriteTimeMarginTicks;
        },
        1000, 5);
}

} // namespace

bool IniWrite(const std::wstring& path, const wchar_t* section, const wchar_t* key, const std::wstring& value)
{
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
        CreateFolders(path.substr(0, slash));
    }
    WaitPastLastWrite(path);
    return ::WritePrivateProfileStringW(section, key, value.c_str(), path.c_str()) != FALSE;
}

bool IniDelete(const std::wstring& path, const wchar_t* section, const wchar_t* key)
{
    if (!PathExists(path)) {
        return true;
    }
    WaitPastLastWrite(path);
    return ::WritePrivateProfileStringW(section, key, nullptr, path.c_str()) != FALSE;
}

// Wine's kernel32 names the Unix file behind a Windows path; the text is freed with HeapFree.
std::string UnixPathOf(const std::wstring& path)
{
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unixPath = unixFileName != nullptr ? unixFileName(path.c_str()) : nullptr;
    std::string text = unixPath != nullptr ? unixPath : "";
    ::HeapFree(::GetProcessHeap(), 0, unixPath);
    return text;
}

bool MakeUnixLink(const std::wstring& target, const std::wstring& link, bool symbolic)
{
    const std::size_t slash = link.rfind(L'\\');
    const std::string unixTarget = UnixPathOf(target);
    const std::string unixLinkFolder = UnixPathOf(link.substr(0, slash));
    if (slash == std::wstring::npos || unixTarget.empty() || unixLinkFolder.empty()) {
        return false;
    }
    const std::wstring unixLink = FromUtf8(unixLinkFolder) + L"/" + link.substr(slash + 1);
    // Wine starts a Unix program given by its path on drive Z:.
    RunAndWait(L"Z:\\bin\\ln", std::wstring(symbolic ? L"-s " : L"") + L"\"" + FromUtf8(unixTarget) + L"\" \"" + unixLink + L"\"",
               10000);
    return WaitFor([&] { return PathExists(link); }, 5000);
}

MappedDrive::MappedDrive(wchar_t letter, const std::wstring& target) : m_letter(letter)
{
    wchar_t prefix[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    const std::string unixTarget = UnixPathOf(target);
    if (length == 0 || length >= MAX_PATH || unixTarget.empty() ||
        ::GetDriveTypeW(Root().c_str()) != DRIVE_NO_ROOT_DIR) {
        return;
    }
    m_unixLink = std::wstring(prefix) + L"/dosdevices/" + static_cast<wchar_t>(::towlower(letter)) + L":";
    RunAndWait(L"Z:\\bin\\ln", L"-s \"" + FromUtf8(unixTarget) + L"\" \"" + m_unixLink + L"\"", 10000);
    m_mapped = WaitFor([this] { return ::GetDriveTypeW(Root().c_str()) != DRIVE_NO_ROOT_DIR; }, 5000);
}

MappedDrive::~MappedDrive()
{
    if (m_unixLink.empty()) {
        return;
    }
    RunAndWait(L"Z:\\bin\\rm", L"-f \"" + m_unixLink + L"\"", 10000);
    WaitFor([this] { return ::GetDriveTypeW(Root().c_str()) == DRIVE_NO_ROOT_DIR; }, 5000);
}

bool OpenFolderToEveryone(const std::wstring& folder)
{
    const std::wstring sddl = std::wstring(L"O:") + kUserSid + L"D:(A;OICI;FA;;;WD)(A;OICI;FA;;;" + kUserSid + L")";
    UniqueLocalMemory descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                                nullptr)) {
        return false;
    }
    PSID owner = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
    ::GetSecurityDescriptorDacl(descriptor.get(), &present, &list, &defaulted);
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, owner, nullptr, list,
                                   nullptr) == ERROR_SUCCESS;
}

std::optional<DWORD> RunAndWait(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs,
                                const wchar_t* environment)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                          environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0,
                          const_cast<wchar_t*>(environment), nullptr, &startup, &info)) {
        return std::nullopt;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return std::nullopt;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], length, nullptr,
                          nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], length);
    return result;
}

} // namespace harness
