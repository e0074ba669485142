#include "FirewallFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

namespace firewall_test {

namespace {

constexpr DWORD kMaxKeyNameChars = 256;
constexpr DWORD kMaxTextChars = 4096;

std::optional<std::wstring> Text(HKEY key, const wchar_t* name)
{
    wchar_t text[kMaxTextChars] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return std::wstring(text);
}

DWORD Number(HKEY key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[kMaxKeyNameChars] = {};
        DWORD length = kMaxKeyNameChars;
        if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& value)
{
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(HKEY key, const wchar_t* name, DWORD value)
{
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

} // namespace

std::vector<StoredRule> StoredRules()
{
    std::vector<StoredRule> rules;
    UniqueRegKey root;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_READ, root.put()) != ERROR_SUCCESS) {
        return rules;
    }
    for (const std::wstring& keyName : SubkeyNames(root.get())) {
        UniqueRegKey key;
        if (::RegOpenKeyExW(root.get(), keyName.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            continue;
        }
        StoredRule rule;
        rule.name = Text(key.get(), L"Name");
        rule.grouping = Text(key.get(), L"Grouping").value_or(L"");
        rule.description = Text(key.get(), L"Description").value_or(L"");
        rule.application = Text(key.get(), L"ApplicationName").value_or(L"");
        rule.direction = Number(key.get(), L"Direction");
        rule.action = Number(key.get(), L"Action");
        rule.protocol = Number(key.get(), L"Protocol");
        rule.profiles = Number(key.get(), L"Profiles");
        rule.enabled = Number(key.get(), L"Enabled");
        rule.edge = Number(key.get(), L"EdgeTraversalOptions");
        rule.localPorts = Text(key.get(), L"LocalPorts");
        rules.push_back(rule);
    }
    return rules;
}

std::vector<std::wstring> StoredNames()
{
    std::vector<std::wstring> names;
    for (const StoredRule& rule : StoredRules()) {
        names.push_back(rule.name.value_or(L"<none>"));
    }
    return names;
}

void SeedRule(const std::optional<std::wstring>& name, const std::wstring& application)
{
    UniqueRegKey root;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.put(),
                                nullptr),
              ERROR_SUCCESS);
    wchar_t keyName[16] = {};
    std::swprintf(keyName, 16, L"%08u", static_cast<unsigned>(SubkeyNames(root.get()).size() + 100));
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(root.get(), keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    if (name) {
        SetText(key.get(), L"Name", *name);
    }
    SetText(key.get(), L"Grouping", L"Other");
    SetText(key.get(), L"Description", L"seeded by the test");
    SetText(key.get(), L"ApplicationName", application);
    SetNumber(key.get(), L"Direction", 1);
    SetNumber(key.get(), L"Action", 1);
    SetNumber(key.get(), L"Protocol", 256);
    SetNumber(key.get(), L"Profiles", 7);
    SetNumber(key.get(), L"EdgeTraversalOptions", 0);
    SetNumber(key.get(), L"Enabled", 1);
}

void ClearStore()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreRoot);
}

void UseLiveEnumerator()
{
    UniqueRegKey root;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStoreRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.put(),
                                nullptr),
              ERROR_SUCCESS);
    SetNumber(root.get(), L"LiveEnumerator", 1);
}

void FirewallServiceTest::SetUp()
{
    ClearStore();
    ServiceLinkTest::SetUp();
    StartService();
    appProcess = StartVerifiedApp(&appPid);
}

void FirewallServiceTest::TearDown()
{
    ServiceLinkTest::TearDown();
    ClearStore();
}

void FirewallServiceTest::SendAndWait(const std::wstring& message)
{
    // Two writes that reach the pipe before a read arrive as one text: the marker is sent once the client
    // has logged the request, read on its own. The client handles a message before its next read, so the
    // marker's line comes after the request's whole handling.
    const std::string request = harness::ToUtf8(message);
    const int requests = CountLogged(pipe_test::kClientTag, request);
    ASSERT_TRUE(app.AppendInbox(L"send " + message));
    ASSERT_TRUE(WaitLogged(pipe_test::kClientTag, request, requests + 1)) << request;
    const std::string marker = "firewall-test-marker-" + std::to_string(++markers);
    ASSERT_TRUE(app.AppendInbox(L"send " + harness::FromUtf8(marker)));
    ASSERT_TRUE(WaitLogged(pipe_test::kClientTag, marker)) << request;
}

std::wstring PluginPath() { return harness::InstallFolder() + L"lockerPlugin\\LockerPlugin.exe"; }

} // namespace firewall_test
