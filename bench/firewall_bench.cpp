// Figures of the firewall request under Wine, printed for bench/firewall_bench.sh (never asserted).
//   firewall_bench.exe <runs>
// Runs in a prefix laid out by scripts/sandbox.sh (the stand-in rule store registered, the plug-in
// installed), installs and starts the "Orvel" service, starts the installed stand-in Corvane.exe and has
// it write "OpenFireWall:1" into the pipe once per run. Per run it prints open_ms: from the stand-in's
// journal record of that write to the moment the store holds the last of the eight new rules (the
// store's keys are polled every 2 ms; ticks of one clock, 1 ms steps; the rules of the run before are
// marked with a value of the bench's own so that they are not counted). The first run,
// which also waits for the service to verify the application, is not counted. The service is removed and
// the stand-in ended at the end.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LinkSupport.h"
#include "base/Win32Resources.h"

namespace {

using namespace bench_link;

constexpr wchar_t kRulesKey[] = L"Software\\OrvelStandIn\\FirewallRules";
constexpr wchar_t kStoreRoot[] = L"Software\\OrvelStandIn";
constexpr char kRequest[] = "OpenFireWall:1";
// A restricted request: four rules for the application and four for its plug-in.
constexpr std::size_t kRulesPerRequest = 8;
constexpr DWORD kMaxKeyNameChars = 64;
constexpr DWORD kPollStepMs = 2;
// Put on the rules that were there before a request, so that its new rules can be told apart.
constexpr wchar_t kSeenMark[] = L"SeenByBench";

// The ticks of the stand-in's journaled writes of the request.
std::vector<ULONGLONG> SendTicks()
{
    std::vector<ULONGLONG> ticks;
    for (const Record& record : bench::ReadJournal(App().JournalPath())) {
        if (record.event == "send" && record.arg == kRequest && record.result == "ok") {
            ticks.push_back(record.tick);
        }
    }
    return ticks;
}

// The complete stored rules ("Enabled" is the last value the store writes) that the bench has not marked
// as seen. Each rule has its own key; the store may reuse a key name once every rule is gone.
std::size_t CountNewRules(bool markSeen)
{
    std::size_t count = 0;
    UniqueRegKey rules;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_READ | KEY_SET_VALUE, rules.put()) != ERROR_SUCCESS) {
        return count;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[kMaxKeyNameChars] = {};
        DWORD length = kMaxKeyNameChars;
        if (::RegEnumKeyExW(rules.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        DWORD value = 0;
        DWORD size = sizeof(value);
        const bool complete = ::RegGetValueW(rules.get(), name, L"Enabled", RRF_RT_REG_DWORD, nullptr, &value,
                                             &size) == ERROR_SUCCESS;
        size = sizeof(value);
        const bool seen = ::RegGetValueW(rules.get(), name, kSeenMark, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                          ERROR_SUCCESS;
        if (complete && !seen) {
            ++count;
            if (markSeen) {
                const DWORD one = 1;
                ::RegSetKeyValueW(rules.get(), name, kSeenMark, REG_DWORD, &one, sizeof(one));
            }
        }
    }
    return count;
}

// One request: the time from its write to the last new rule stored, or nullopt when either never came.
std::optional<ULONGLONG> OneRequest()
{
    CountNewRules(true);
    const std::size_t sent = SendTicks().size();
    if (!App().AppendInbox(L"send " + harness::FromUtf8(kRequest))) {
        return std::nullopt;
    }
    ULONGLONG stored = 0;
    const bool complete = harness::WaitFor(
        [&] {
            const std::size_t added = CountNewRules(false);
            stored = ::GetTickCount64();
            return added >= kRulesPerRequest;
        },
        kWaitMs, kPollStepMs);
    std::vector<ULONGLONG> ticks;
    if (!complete || !harness::WaitFor([&] { ticks = SendTicks(); return ticks.size() > sent; }, kWaitMs, kPollStepMs)) {
        std::fprintf(stderr, "no complete rule set (%u new rules stored) or no journaled send (%u) within %lu ms\n",
                     static_cast<unsigned>(CountNewRules(false)), static_cast<unsigned>(ticks.size()),
                     kWaitMs);
        return std::nullopt;
    }
    return stored - ticks[sent];
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    ClearStage();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreRoot);

    Link link;
    if (!InstallService(&link)) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    int failures = 0;
    if (!StartConnectedApp(&link)) {
        std::fprintf(stderr, "the service did not connect to the application\n");
        failures = runs;
    }
    for (int run = 0; run <= runs && failures < runs; ++run) {
        const std::optional<ULONGLONG> ms = OneRequest();
        if (!ms) {
            ++failures;
        } else if (run > 0) {
            std::printf("open_ms %llu\n", *ms);
            std::fflush(stdout);
        }
    }
    std::printf("failures %d\n", failures);
    ClearStage();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStoreRoot);
    return 0;
}
