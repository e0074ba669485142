// The stand-in resource library: a few texts in three languages, looked up by key.
//
// The three exports the service uses:
//   int InitRes(HMODULE module)                      1 when given a module, 0 for null
//   int SetCurrentLanguage(const wchar_t* name)       1 for a known language (compared ignoring case),
//                                                     0 when it falls back to en-US (unknown, null, empty)
//   int LoadWString(const wchar_t* key, int capacity, wchar_t* out)
//                                                     copies the key's text (the key itself when unknown),
//                                                     cut to capacity - 1 characters and zero-terminated;
//                                                     returns the characters copied; nothing is written
//                                                     when capacity <= 0 or out is null
// Two more for tests that need to see what the service passed (the library stays loaded between the
// service's load and free when the test itself holds a reference):
//   int ResTextLastLanguage(wchar_t* out, int capacity)  the name last given to SetCurrentLanguage,
//                                                     verbatim ("(null)" for a null pointer)
//   int ResTextCallTrace(wchar_t* out, int capacity)  the calls so far, comma-separated, e.g.
//                                                     "InitRes(self),SetCurrentLanguage,LoadWString"
//                                                     (InitRes(self) when given this library's own module)

#include <windows.h>

#include <cwchar>
#include <mutex>
#include <string>

namespace {

struct Text {
    const wchar_t* key;
    const wchar_t* text;
};

const Text kEnglish[] = {
    {L"app_title", L"Corvane Companion"},
    {L"sendbox_file_menu_share_title", L"Share with Corvane"},
};

// "Corvane assistant" and "Share with Corvane".
const Text kChinese[] = {
    {L"app_title", L"Corvane \u52A9\u624B"},
    {L"sendbox_file_menu_share_title", L"\u7528 Corvane \u5206\u4EAB"},
};

const Text kGerman[] = {
    {L"app_title", L"Corvane Begleiter"},
    {L"sendbox_file_menu_share_title", L"Mit Corvane teilen"},
};

struct Language {
    const wchar_t* name;
    const Text* texts;
    size_t count;
};

const Language kLanguages[] = {
    {L"en-US", kEnglish, sizeof(kEnglish) / sizeof(kEnglish[0])},
    {L"zh-CN", kChinese, sizeof(kChinese) / sizeof(kChinese[0])},
    {L"de-DE", kGerman, sizeof(kGerman) / sizeof(kGerman[0])},
};

std::mutex g_lock;
const Language* g_language = &kLanguages[0];
std::wstring g_lastLanguage;
std::wstring g_trace;
HMODULE g_self = nullptr;

void Trace(const wchar_t* call)
{
    if (!g_trace.empty()) {
        g_trace += L',';
    }
    g_trace += call;
}

int CopyOut(const std::wstring& text, int capacity, wchar_t* out)
{
    if (out == nullptr || capacity <= 0) {
        return 0;
    }
    const size_t room = static_cast<size_t>(capacity) - 1;
    const size_t count = text.size() < room ? text.size() : room;
    text.copy(out, count);
    out[count] = L'\0';
    return static_cast<int>(count);
}

bool SameName(const wchar_t* a, const wchar_t* b)
{
    return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) noexcept
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
    }
    return TRUE;
}

int InitRes(HMODULE module)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Trace(module == g_self ? L"InitRes(self)" : module == nullptr ? L"InitRes(null)" : L"InitRes(other)");
    g_language = &kLanguages[0];
    return module != nullptr ? 1 : 0;
}

int SetCurrentLanguage(const wchar_t* name)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Trace(L"SetCurrentLanguage");
    g_lastLanguage = name != nullptr ? name : L"(null)";
    g_language = &kLanguages[0];
    if (name == nullptr) {
        return 0;
    }
    for (const Language& language : kLanguages) {
        if (SameName(language.name, name)) {
            g_language = &language;
            return 1;
        }
    }
    return 0;
}

#if !defined(RESTEXT_NO_LOAD)
int LoadWString(const wchar_t* key, int capacity, wchar_t* out)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Trace(L"LoadWString");
    if (key == nullptr) {
        return CopyOut(std::wstring(), capacity, out);
    }
#if !defined(RESTEXT_KEY_ECHO)
    for (size_t i = 0; i < g_language->count; ++i) {
        if (std::wcscmp(g_language->texts[i].key, key) == 0) {
            return CopyOut(g_language->texts[i].text, capacity, out);
        }
    }
#endif
    return CopyOut(key, capacity, out);
}
#endif

int ResTextLastLanguage(wchar_t* out, int capacity)
{
    std::lock_guard<std::mutex> lock(g_lock);
    return CopyOut(g_lastLanguage, capacity, out);
}

int ResTextCallTrace(wchar_t* out, int capacity)
{
    std::lock_guard<std::mutex> lock(g_lock);
    return CopyOut(g_trace, capacity, out);
}

} // extern "C"
