#include "base/SettingsFile.h"

#include <cwchar>

#include "base/DecimalText.h"
#include "base/SharedState.h"
#include "base/UserFolderAccess.h"

namespace {

// INI texts are read into 128 characters; numbers are converted through at most 128 ANSI bytes.
constexpr DWORD kIniTextChars = 128;
constexpr int kIniNumberBytes = 128;

bool IsEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

} // namespace

std::wstring ReadIniText(const std::wstring& path, const wchar_t* section, const wchar_t* key, DWORD capacity)
{
    if (path.empty() || capacity == 0) {
        return std::wstring();
    }
    // As for a write: the private-profile functions open the file by its path, so the folders down to it
    // and the file itself are held while it is read, and a link planted there is never followed.
    ConsoleUserImpersonation user;
    if (!user.allowed()) {
        return std::wstring();
    }
    const HeldFolderChain folders = user.HoldFolder(FolderOf(path));
    if (!folders.valid()) {
        return std::wstring();
    }
    const UniqueFileHandle file = OpenPlainFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file) {
        return std::wstring();
    }
    std::wstring text(capacity, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(section, key, L"", &text[0], capacity, path.c_str());
    text.resize(length < capacity ? length : capacity - 1);
    return text;
}

bool ReadIniInt(const wchar_t* path, const wchar_t* section, const wchar_t* key, int* value)
{
    if (IsEmpty(path) || IsEmpty(section) || IsEmpty(key) || value == nullptr) {
        return false;
    }
    const std::wstring text = ReadIniText(path, section, key, kIniTextChars);
    if (text.empty()) {
        return false;
    }
    char ansi[kIniNumberBytes] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi, kIniNumberBytes - 1, nullptr, nullptr);
    *value = ParseDecimalInt(ansi);
    return true;
}

BOOL WriteIniText(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* value)
{
    if (path.empty()) {
        return FALSE;
    }
    // The private-profile functions open the file by its path, so the folders down to it are held and
    // the file is opened and checked by its handle, and both stay so until the write is done: nothing
    // can be swapped for a link in between, and the write lands in the very file that was checked. The
    // file is shared for reading and writing, so the application's own writes go on meanwhile.
    ConsoleUserImpersonation user;
    if (!user.allowed()) {
        return FALSE;
    }
    const HeldFolderChain folders = user.HoldFolder(FolderOf(path));
    if (!folders.valid()) {
        return FALSE;
    }
    const UniqueFileHandle file = OpenPlainFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
    if (!file) {
        return FALSE;
    }
    return ::WritePrivateProfileStringW(section, key, value, path.c_str());
}

BOOL WriteIniNumber(const std::wstring& path, const wchar_t* section, const wchar_t* key, int value)
{
    wchar_t text[kIniTextChars] = {};
    std::swprintf(text, kIniTextChars, L"%d", value);
    return WriteIniText(path, section, key, text);
}

BOOL WriteServiceText(const wchar_t* key, const wchar_t* value)
{
    SharedState* service = SharedState::Get();
    return service != nullptr ? WriteIniText(service->IniPath(), kServiceSection, key, value) : FALSE;
}

BOOL WriteServiceNumber(const wchar_t* key, int value)
{
    SharedState* service = SharedState::Get();
    return service != nullptr ? WriteIniNumber(service->IniPath(), kServiceSection, key, value) : FALSE;
}

BOOL WriteProgressText(const wchar_t* key, const wchar_t* value)
{
    SharedState* service = SharedState::Get();
    BOOL written = FALSE;
    if (service != nullptr) {
        service->UnlessStopping([&] { written = WriteIniText(service->IniPath(), kServiceSection, key, value); });
    }
    return written;
}

BOOL WriteProgressNumber(const wchar_t* key, int value)
{
    SharedState* service = SharedState::Get();
    BOOL written = FALSE;
    if (service != nullptr) {
        service->UnlessStopping([&] { written = WriteIniNumber(service->IniPath(), kServiceSection, key, value); });
    }
    return written;
}

int ReadCorvaneInt(const wchar_t* key)
{
    int value = 0;
    SharedState* service = SharedState::Get();
    if (service != nullptr) {
        ReadIniInt(service->IniPath().c_str(), kCorvaneSection, key, &value);
    }
    return value;
}
