#include "link/JsonObject.h"

#include "cJSON.h"

void json_traits::Tree::Close(Type tree) noexcept { cJSON_Delete(tree); }

namespace {
constexpr char kParseErrorPrefix[] = "prase json string error at ";
}

bool CJSonObject::Parse(const char* text)
{
    m_root.reset();
    m_errorPosition = nullptr;
    if (text == nullptr) {
        m_errorMessage = kParseErrorPrefix;
        return false;
    }
    const char* stop = nullptr;
    m_root.reset(cJSON_ParseWithOpts(text, &stop, 0));
    if (m_root) {
        return true;
    }
    // cJSON leaves stop inside the text (at most at its last byte) when a parse fails.
    m_errorPosition = stop != nullptr ? stop : text;
    m_errorMessage = std::string(kParseErrorPrefix) + m_errorPosition;
    return false;
}

bool CJSonObject::Get(const char* key, std::string& value) const
{
    if (!m_root || key == nullptr || !cJSON_IsObject(m_root.get())) {
        return false;
    }
    const cJSON* member = cJSON_GetObjectItem(m_root.get(), key);
    if (member == nullptr || !cJSON_IsString(member) || member->valuestring == nullptr) {
        return false;
    }
    value = member->valuestring;
    return true;
}
