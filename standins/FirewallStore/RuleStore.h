#pragma once

// The rules of the stand-in firewall, kept in the registry so that every process sees the same store:
// one key per rule under HKEY_LOCAL_MACHINE\Software\OrvelStandIn\FirewallRules, named by an increasing
// eight-digit number, so that the keys in name order are the rules in the order of adding.

#include <windows.h>

#include <string>
#include <vector>

struct StoredRule {
    bool hasName = false;  // a key without "Name" is a rule whose name cannot be read
    std::wstring name;
    std::wstring grouping;
    std::wstring description;
    std::wstring applicationName;
    DWORD direction = 1;          // in
    DWORD action = 1;             // allow
    DWORD protocol = 256;         // any
    DWORD profiles = 0x7FFFFFFF;  // all
    DWORD enabled = 0;
    DWORD edgeTraversalOptions = 0;
    bool hasLocalPorts = false;
    std::wstring localPorts;
    std::wstring key;  // the rule's key name once stored
};

constexpr wchar_t kStoreRootKey[] = L"Software\\OrvelStandIn";
constexpr wchar_t kRulesKey[] = L"Software\\OrvelStandIn\\FirewallRules";
// Under kStoreRootKey: a DWORD 1 makes enumerators read the store afresh at each step instead of
// walking a snapshot (for showing what a caller that removes while enumerating would miss).
constexpr wchar_t kLiveEnumeratorValue[] = L"LiveEnumerator";

// The rules now stored, in the order of adding.
std::vector<StoredRule> LoadRules();
// Appends a rule after the last one stored.
HRESULT AppendRule(const StoredRule& rule);
// Deletes one stored rule by its key name.
HRESULT DeleteRule(const std::wstring& key);
bool LiveEnumerator();
