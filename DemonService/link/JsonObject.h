#pragma once

// CJSonObject: owns one parsed JSON tree and answers string lookups on its root object. Used for the
// payload of a quoted firewall request; one object per request, on one thread.

#include <string>

#include "base/UniqueResource.h"

struct cJSON;

namespace json_traits {
struct Tree {
    using Type = cJSON*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type tree) noexcept { return tree != nullptr; }
    static void Close(Type tree) noexcept;
};
} // namespace json_traits

using UniqueJsonTree = UniqueResource<json_traits::Tree>;

class CJSonObject {
public:
    CJSonObject() = default;
    virtual ~CJSonObject() = default;
    CJSonObject(const CJSonObject&) = delete;
    CJSonObject& operator=(const CJSonObject&) = delete;

    // Releases any tree held, then parses text (null parses as nothing and fails). Leading bytes of
    // value 32 or less are skipped and text after the first complete value is ignored. On failure no
    // tree is held and ErrorMessage() is "prase json string error at " followed by the input from
    // where the parser stopped. Never throws.
    bool Parse(const char* text);

    // The string value of the root object's first member whose name equals key, ignoring the case of
    // ASCII letters. False, with value unchanged, when nothing is parsed, the root is not an object,
    // there is no such member or its value is not a string.
    bool Get(const char* key, std::string& value) const;

    const std::string& ErrorMessage() const { return m_errorMessage; }

private:
    UniqueJsonTree m_root;
    const char* m_errorPosition = nullptr;  // into the text of the last failed parse; not owned
    std::string m_errorMessage;
};
