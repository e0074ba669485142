#include "base/LocaleName.h"

bool IsPlausibleLocaleName(const std::wstring& name)
{
    if (name.empty() || name.size() > kLocaleNameMaxChars) {
        return false;
    }
    for (const wchar_t c : name) {
        const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        const bool digit = c >= L'0' && c <= L'9';
        if (!letter && !digit && c != L'-') {
            return false;
        }
    }
    return true;
}
