// The application's firewall rules, as the application asks for them over the pipe and as the rule
// store keeps them; and the rule operations in this process where the store's own behaviour matters.

#include <windows.h>
#include <netfw.h>

#include <atomic>
#include <string>

#include "DriverInstallers.h"
#include "FirewallFixture.h"
#include "integration/FirewallRules.h"

using namespace firewall_test;

namespace {

constexpr wchar_t kOrvel[] = L"Orvel";
constexpr wchar_t kDescription[] = L"Allow Orvel temporary access public network";
constexpr wchar_t kOtherProgram[] = L"C:\\Other\\other.exe";
constexpr DWORD kIn = 1, kOut = 2, kBlock = 0, kAllow = 1, kTcp = 6, kUdp = 17, kAny = 256;
constexpr DWORD kDeferToApp = 2;

// What one rule of the service's set must hold besides its common properties.
struct Expected {
    DWORD direction;
    DWORD action;
    DWORD protocol;
    DWORD profiles;
    const wchar_t* ports;  // null: no LocalPorts value
};

void ExpectRuleSet(const std::vector<StoredRule>& rules, std::size_t first, const std::wstring& application,
                   const std::vector<Expected>& expected)
{
    ASSERT_GE(rules.size(), first + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const StoredRule& rule = rules[first + i];
        const Expected& want = expected[i];
        SCOPED_TRACE(harness::ToUtf8(application) + " rule " + std::to_string(i));
        EXPECT_EQ(rule.name.value_or(L""), kOrvel);
        EXPECT_EQ(rule.grouping, kOrvel);
        EXPECT_EQ(rule.description, kDescription);
        EXPECT_EQ(rule.application, application);
        EXPECT_EQ(rule.enabled, 1u);
        EXPECT_EQ(rule.direction, want.direction);
        EXPECT_EQ(rule.action, want.action);
        EXPECT_EQ(rule.protocol, want.protocol);
        EXPECT_EQ(rule.profiles, want.profiles);
        EXPECT_EQ(rule.edge, want.direction == kIn ? kDeferToApp : 0u);
        if (want.ports == nullptr) {
            EXPECT_FALSE(rule.localPorts.has_value());
        } else {
            EXPECT_EQ(rule.localPorts.value_or(L"<absent>"), want.ports);
        }
    }
}

std::vector<Expected> UnrestrictedSet(const wchar_t* ports = nullptr)
{
    return {{kIn, kAllow, kTcp, 7, ports}, {kIn, kAllow, kUdp, 7, ports}, {kOut, kAllow, kAny, 7, nullptr}};
}

std::vector<Expected> RestrictedSet(const wchar_t* ports = nullptr)
{
    return {{kIn, kAllow, kTcp, 3, ports},
            {kIn, kAllow, kUdp, 3, ports},
            {kIn, kBlock, kAny, 4, nullptr},
            {kOut, kAllow, kAny, 7, nullptr}};
}

// ---- End to end: the application asks, the service writes the store ----------------------------------

using FirewallRequests = FirewallServiceTest;

TEST_F(FirewallRequests, AnUnrestrictedOpenGivesTheApplicationAndThePluginThreeRulesEach)
{
    SendAndWait(L"OpenFireWall:0");
    const std::vector<StoredRule> rules = StoredRules();
    ASSERT_EQ(rules.size(), 6u);
    ExpectRuleSet(rules, 0, app.ExePath(), UnrestrictedSet());
    ExpectRuleSet(rules, 3, PluginPath(), UnrestrictedSet());
}

TEST_F(FirewallRequests, ARestrictedOpenKeepsInboundOffThePublicProfile)
{
    SendAndWait(L"OpenFireWall:1");
    const std::vector<StoredRule> rules = StoredRules();
    ASSERT_EQ(rules.size(), 8u);
    ExpectRuleSet(rules, 0, app.ExePath(), RestrictedSet());
    ExpectRuleSet(rules, 4, PluginPath(), RestrictedSet());
}

TEST_F(FirewallRequests, PortsNamedInTheJsonFormGoToTheTcpAndUdpRulesOnly)
{
    SendAndWait(L"\"OpenFireWall\":1,\"ports\":\"80,443,5000-5010,RPC\"");
    const std::vector<StoredRule> rules = StoredRules();
    ASSERT_EQ(rules.size(), 8u);
    ExpectRuleSet(rules, 0, app.ExePath(), RestrictedSet(L"80,443,5000-5010,RPC"));
    ExpectRuleSet(rules, 4, PluginPath(), RestrictedSet(L"80,443,5000-5010,RPC"));
}

TEST_F(FirewallRequests, OpeningTwiceReplacesTheRulesAndClosingRemovesEveryOrvelRuleButNoOther)
{
    SeedRule(std::wstring(kOrvel), kOtherProgram);
    SeedRule(std::wstring(L"orvel"), kOtherProgram);
    SeedRule(std::wstring(L"Other"), kOtherProgram);

    SendAndWait(L"OpenFireWall:1");
    SendAndWait(L"\"OpenFireWall\":0,\"ports\":\"8080\"");
    std::vector<StoredRule> rules = StoredRules();
    ASSERT_EQ(rules.size(), 2u + 6u);
    EXPECT_EQ(rules[0].name.value_or(L""), L"orvel");
    EXPECT_EQ(rules[1].name.value_or(L""), L"Other");
    ExpectRuleSet(rules, 2, app.ExePath(), UnrestrictedSet(L"8080"));
    ExpectRuleSet(rules, 5, PluginPath(), UnrestrictedSet(L"8080"));

    SendAndWait(L"CloseFireWall");
    EXPECT_EQ(StoredNames(), (std::vector<std::wstring>{L"orvel", L"Other"}));
}

TEST_F(FirewallRequests, CommandsSentRightAfterStopForUpdateStoreRemoveAndStartNothing)
{
    SeedRule(std::wstring(kOrvel), kOtherProgram);
    const harness::StandInApp installers = harness::InstalledInstaller(L"devcon.exe");
    ASSERT_TRUE(installers.ClearJournal());
    UniqueHandle service(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servicePid));
    ASSERT_TRUE(service.valid());
    ASSERT_TRUE(app.AppendInbox(L"send stop_for_update; sleep 200; send OpenFireWall:0; sleep 200; send CloseFireWall;"
                                L" sleep 200; send InstallCameraDriver; sleep 200; send InstallBrisaDriveDriver;"
                                L" sleep 200; send InstallScreenShareDriver"));
    // Whatever the service did not do by the end of its process, it never does. (That each of them is
    // read and refused is shown by CommandsAfterStopForUpdate below.)
    ASSERT_TRUE(harness::WaitForExit(service.get(), harness::kStartTimeoutMs));
    EXPECT_EQ(StoredNames(), std::vector<std::wstring>{kOrvel});
    EXPECT_TRUE(installers.Starts().empty());
}

TEST_F(FirewallRequests, WithoutThePluginOnlyTheApplicationGetsRules)
{
    struct PluginAside {
        std::wstring path, aside;
        ~PluginAside() { ::MoveFileW(aside.c_str(), path.c_str()); }
    } plugin{PluginPath(), PluginPath() + L".aside"};
    ASSERT_TRUE(::MoveFileW(plugin.path.c_str(), plugin.aside.c_str()));
    SendAndWait(L"OpenFireWall:0");
    const std::vector<StoredRule> rules = StoredRules();
    ASSERT_EQ(rules.size(), 3u);
    ExpectRuleSet(rules, 0, app.ExePath(), UnrestrictedSet());
}

TEST_F(FirewallRequests, PortsTheFirewallRejectsOrOver255CharactersDropOnlyTheTcpAndUdpRules)
{
    // 256 characters whose first 255 would be a valid list: a text that were cut would be accepted.
    std::wstring tooLong;
    while (tooLong.size() < 254) {
        tooLong += L"1,";
    }
    tooLong += L"10";
    ASSERT_EQ(tooLong.size(), 256u);
    const std::vector<Expected> blockAndOutbound = {{kIn, kBlock, kAny, 4, nullptr}, {kOut, kAllow, kAny, 7, nullptr}};

    for (const std::wstring& ports : {std::wstring(L"http"), std::wstring(L"70000"), std::wstring(L"80,,81"), tooLong}) {
        SCOPED_TRACE(harness::ToUtf8(ports));
        SendAndWait(L"\"OpenFireWall\":1,\"ports\":\"" + ports + L"\"");
        const std::vector<StoredRule> rules = StoredRules();
        ASSERT_EQ(rules.size(), 4u);
        ExpectRuleSet(rules, 0, app.ExePath(), blockAndOutbound);
        ExpectRuleSet(rules, 2, PluginPath(), blockAndOutbound);
    }
}

// ---- In this process: what the application sends after "stop_for_update" ----------------------------

// Stands in for the service's stop: it notes that the stop was asked for and stops nothing, so that the
// client reads on and every later message of the connection reaches the dispatcher.
std::atomic<int> g_stopsForUpdate{0};
DWORD WINAPI NoteStopForUpdate(LPVOID) noexcept
{
    ++g_stopsForUpdate;
    return 0;
}

// The context's own client against the stand-in application, an empty rule store and installer journal,
// and "AppExit" = 1 (an exit notice would kill).
class CommandsAfterStopForUpdate : public pipe_test::LinkTest {
protected:
    void SetUp() override
    {
        ClearStore();
        LinkTest::SetUp();
        ASSERT_TRUE(installers.ClearJournal());
        g_stopsForUpdate = 0;
        service = harness::FreshContext();
        ASSERT_NE(service, nullptr);
        service->SetStopForUpdateRoutine(NoteStopForUpdate);
        SetCorvaneKey(L"AppExit", L"1");
        appProcess = StartApp(&appPid);
        ASSERT_TRUE(service->BeginRun());
        service->StartClient(app.ExePath().c_str());
        ASSERT_TRUE(WaitVerified(appPid, ::GetCurrentProcessId()));
    }

    void TearDown() override
    {
        harness::DropContext();
        LinkTest::TearDown();
        ClearStore();
    }

    // Sends message and waits until the client has read it. The client handles a message before its next
    // read, so once a message is logged, everything sent before it has been acted on (or refused).
    void Send(const std::wstring& message)
    {
        const std::string text = harness::ToUtf8(message);
        const int before = CountLogged(pipe_test::kClientTag, text);
        ASSERT_TRUE(app.AppendInbox(L"send " + message));
        ASSERT_TRUE(WaitLogged(pipe_test::kClientTag, text, before + 1)) << text;
    }

    DemonService* service = nullptr;
    harness::StandInApp installers = harness::InstalledInstaller(L"devcon.exe");
    DWORD appPid = 0;
    UniqueHandle appProcess;
};

TEST_F(CommandsAfterStopForUpdate, NothingTheSameConnectionAsksForIsStartedKilledOpenedOrRemoved)
{
    // Before the request the connection is obeyed: an instance started (and ended again, so that it takes
    // no step meant for the connected one), a bridge started, rules opened.
    Send(L"c:before");
    const std::vector<harness::JournalRecord> started = WaitForOtherStarts({appPid}, harness::kStartTimeoutMs);
    ASSERT_EQ(started.size(), 1u);
    {
        UniqueHandle instance(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pipe_test::Pid(started[0])));
        ASSERT_TRUE(instance.valid());
        ::TerminateProcess(instance.get(), 1);
        ASSERT_EQ(::WaitForSingleObject(instance.get(), harness::kStartTimeoutMs), static_cast<DWORD>(WAIT_OBJECT_0));
    }
    Send(L"InstallBrisaDriveDriver");
    ASSERT_TRUE(installers.WaitForStarts(1, harness::kStartTimeoutMs));
    Send(L"OpenFireWall:0");
    Send(L"ping");
    const std::vector<StoredRule> opened = StoredRules();
    ASSERT_EQ(opened.size(), 6u);

    Send(L"stop_for_update");
    for (const std::wstring& command :
         {std::wstring(L"c:after"), L"app_exit:" + std::to_wstring(appPid), std::wstring(L"OpenFireWall:1"),
          std::wstring(L"CloseFireWall"), std::wstring(L"InstallCameraDriver"),
          std::wstring(L"InstallBrisaDriveDriver"), std::wstring(L"InstallScreenShareDriver")}) {
        Send(command);
    }
    // Read after the last command: each of them has been handled.
    Send(L"ping");

    EXPECT_EQ(g_stopsForUpdate, 1);
    EXPECT_EQ(WaitForOtherStarts({appPid}, 0).size(), 1u);
    EXPECT_TRUE(harness::IsRunning(appProcess.get()));
    EXPECT_EQ(CountLogged(pipe_test::kServiceTag, "KillCorvane"), 0);
    EXPECT_EQ(CountLoggedPrefix(pipe_test::kClientTag, "Corvane exit"), 0);
    const std::vector<StoredRule> left = StoredRules();
    ASSERT_EQ(left.size(), opened.size());
    ExpectRuleSet(left, 0, app.ExePath(), UnrestrictedSet());
    ExpectRuleSet(left, 3, PluginPath(), UnrestrictedSet());
    EXPECT_EQ(installers.Starts().size(), 1u);
    // Refused before any check: no installer was even looked at.
    for (const char* tag : {"InstallCameraDriver", "InstallSSDriver", "InstallVirtualDriverBase"}) {
        EXPECT_EQ(CountLoggedPrefix(tag, ""), 0) << tag;
    }
    EXPECT_EQ(CountLoggedPrefix("InstallBrisaDriveDriver", ""), 1);
}

// ---- In this process: removal against what the store's enumerator does -------------------------------

class FirewallRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearStore();
        // Rules named "Orvel" next to each other and around one whose name cannot be read.
        for (const wchar_t* name : {kOrvel, kOrvel, static_cast<const wchar_t*>(nullptr), kOrvel, L"orvel", kOrvel}) {
            SeedRule(name != nullptr ? std::optional<std::wstring>(name) : std::nullopt, kOtherProgram);
        }
    }
    void TearDown() override { ClearStore(); }

    HRESULT Remove()
    {
        HRESULT result = E_UNEXPECTED;
        WithFirewallPolicy([&](INetFwPolicy2* policy) { result = RemoveFirewallRules(policy); });
        return result;
    }
};

TEST_F(FirewallRemoval, NoOrvelRuleIsLeftWhenTheEnumeratorWalksASnapshot)
{
    EXPECT_EQ(Remove(), S_OK);
    EXPECT_EQ(StoredNames(), (std::vector<std::wstring>{L"<none>", L"orvel"}));
}

TEST_F(FirewallRemoval, NoOrvelRuleIsLeftWhenTheEnumeratorSeesRemovalsUnderIt)
{
    UseLiveEnumerator();
    EXPECT_EQ(Remove(), S_OK);
    EXPECT_EQ(StoredNames(), (std::vector<std::wstring>{L"<none>", L"orvel"}));
}

// ---- The stand-in store itself, as strict as the firewall's documentation ----------------------------

TEST(FirewallStoreStandIn, RemovesOneRulePerCallAndRefusesPortsItDoesNotAccept)
{
    constexpr wchar_t kSecondProgram[] = L"C:\\Other\\second.exe";
    ClearStore();
    SeedRule(std::wstring(L"orvel"), kOtherProgram);
    SeedRule(std::wstring(kOrvel), kOtherProgram);
    SeedRule(std::wstring(kOrvel), kSecondProgram);
    WithFirewallPolicy([&](INetFwPolicy2* policy) {
        UniqueComPtr<INetFwRules> rules;
        ASSERT_EQ(policy->get_Rules(rules.put()), S_OK);
        // The first rule of exactly that name goes; the one of another letter case and the second stay.
        UniqueBstr name(::SysAllocString(kOrvel));
        ASSERT_EQ(rules.get()->Remove(name.get()), S_OK);
        LONG count = 0;
        EXPECT_EQ(rules.get()->get_Count(&count), S_OK);
        EXPECT_EQ(count, 2);
        std::vector<StoredRule> left = StoredRules();
        ASSERT_EQ(left.size(), 2u);
        EXPECT_EQ(left[0].name.value_or(L""), L"orvel");
        EXPECT_EQ(left[1].name.value_or(L""), kOrvel);
        EXPECT_EQ(left[1].application, kSecondProgram);
        // A name that no rule has succeeds and removes nothing.
        UniqueBstr missing(::SysAllocString(L"Nothing"));
        EXPECT_EQ(rules.get()->Remove(missing.get()), S_OK);
        EXPECT_EQ(StoredNames(), (std::vector<std::wstring>{L"orvel", kOrvel}));

        UniqueComPtr<INetFwRule> rule;
        ASSERT_EQ(::CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                                     rule.put_void()),
                  S_OK);
        UniqueBstr ports(::SysAllocString(L"80"));
        EXPECT_EQ(rule.get()->put_LocalPorts(ports.get()), E_INVALIDARG);  // protocol any
        ASSERT_EQ(rule.get()->put_Protocol(6), S_OK);
        EXPECT_EQ(rule.get()->put_LocalPorts(ports.get()), S_OK);
        for (const wchar_t* text : {L"80-79", L"65536", L"80 ", L"", L"Web", L"1,*"}) {
            UniqueBstr bad(::SysAllocString(text));
            EXPECT_EQ(rule.get()->put_LocalPorts(bad.get()), E_INVALIDARG) << harness::ToUtf8(text);
        }
        for (const wchar_t* text : {L"*", L"0,65535", L"rpc-epmap,Teredo,IPHTTPS,Ply2Disc,mDNS", L"1-1"}) {
            UniqueBstr good(::SysAllocString(text));
            EXPECT_EQ(rule.get()->put_LocalPorts(good.get()), S_OK) << harness::ToUtf8(text);
        }
    });
    ClearStore();
}

} // namespace
