// Text from outside (a server's path, a panic entry) becomes an event's insert string: whatever it holds,
// the insert is bounded and carries no control character that could begin a line or hide text, and no
// invisible character that could make it read as other text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/EventText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
    const EventRecord event = ServerRefusedEvent(text, TrustRefusal::NotSigned);
    const std::wstring& insert = event.inserts.at(0);
    if (insert.size() > kMaxInsertChars) {
        std::abort();
    }
    for (const wchar_t c : insert) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        const bool reorders = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
                              (c >= 0x200B && c <= 0x200F) || c == 0xFEFF;
        if (control || reorders) {
            std::abort();
        }
    }
    // Text without anything to escape passes whole, up to the bound.
    if (text.size() <= kMaxInsertChars && EscapeEventInsert(text).size() == text.size() && insert != text) {
        std::abort();
    }
    return 0;
}
