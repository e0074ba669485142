#pragma once

// The stand-in firewall rule store as a test sees it: the rules read straight from its registry keys,
// rules of other programs put there by the test, and a clean store before and after every case.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "PipeFixture.h"
#include "base/Win32Resources.h"

namespace firewall_test {

constexpr wchar_t kStoreRoot[] = L"Software\\OrvelStandIn";
constexpr wchar_t kRulesKey[] = L"Software\\OrvelStandIn\\FirewallRules";

struct StoredRule {
    std::optional<std::wstring> name;
    std::wstring grouping;
    std::wstring description;
    std::wstring application;
    DWORD direction = 0;
    DWORD action = 0;
    DWORD protocol = 0;
    DWORD profiles = 0;
    DWORD enabled = 0;
    DWORD edge = 0;
    std::optional<std::wstring> localPorts;
};

// The rules in the order of adding (key names ascending).
std::vector<StoredRule> StoredRules();
// Names of the stored rules, "<none>" for a rule without one.
std::vector<std::wstring> StoredNames();
// Stores a rule the way the store does; name nullopt stores one whose name cannot be read.
void SeedRule(const std::optional<std::wstring>& name, const std::wstring& application);
// Empties the store and puts the enumerator back to walking snapshots.
void ClearStore();
// Makes the store's enumerators read the store afresh at every step.
void UseLiveEnumerator();
// The installed plug-in, the second executable that gets rules.
std::wstring PluginPath();

// The service running against the stand-in application, with an empty rule store.
class FirewallServiceTest : public pipe_test::ServiceLinkTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sends message over the application's pipe and waits until the service has acted on it: a marker
    // message sent after it is logged only once the service has finished the firewall command.
    void SendAndWait(const std::wstring& message);

    DWORD appPid = 0;
    UniqueHandle appProcess;
    int markers = 0;
};

} // namespace firewall_test
