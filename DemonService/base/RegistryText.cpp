#include "base/RegistryText.h"

namespace {
constexpr std::size_t kValueBufferBytes = 1024;
constexpr DWORD kValueBytesOffered = 512;
} // namespace

std::optional<RegistryText> ReadRegistryText(HKEY key, const wchar_t* name)
{
    if (key == nullptr) {
        return std::nullopt;
    }
    wchar_t buffer[kValueBufferBytes / sizeof(wchar_t)] = {};
    DWORD byteCount = kValueBytesOffered;
    if (::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &byteCount) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    RegistryText value;
    value.text = buffer;  // the zeroed tail terminates a value stored without its terminator
    value.byteCount = byteCount;
    return value;
}

bool WriteRegistryText(HKEY key, const wchar_t* name, const RegistryText& value)
{
    if (key == nullptr) {
        return false;
    }
    // Never claim more bytes than the text holds (terminator included).
    const DWORD available = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
    const DWORD byteCount = value.byteCount < available ? value.byteCount : available;
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()), byteCount) ==
           ERROR_SUCCESS;
}
