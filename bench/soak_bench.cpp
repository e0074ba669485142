// The service over a long run, printed for bench/soak_bench.sh (never asserted).
//   soak_bench.exe <cycles> <messages> <seed> <marker folder>
// Runs in a prefix laid out by scripts/sandbox.sh, with the "Orvel" service installed from the sandbox and
// the installed stand-in Corvane.exe as the application, the log switched on. Phases:
//   cycles:   <cycles> connect-and-break cycles: the application drops the connection ("exit" = 1, so the
//             break is no crash) and the client connects again a second later;
//   messages: <messages> messages that the stand-in writes into the pipe, one read apart: random bytes,
//             and the pipe commands mutated. None is a command: each candidate goes through the service's
//             own command matcher and only those it takes for no command are sent, so the service logs
//             each one and does nothing else.
// The service's handles (probed with DuplicateHandle) and private memory are measured after the first
// cycle, after the last cycle and after the last message; at each of those points "mark <name>" is
// printed and the program waits until the script has read /proc and created <marker folder>\<name>.
// At the end, what the service did is counted from its log.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LinkSupport.h"
#include "link/CommandTable.h"

namespace {

using namespace bench_link;

// The client reads at most once every 100 ms and logs each message: with the stand-in's own time per step,
// a send every 100 ms arrives as one message.
constexpr int kSendSpacingMs = 100;
constexpr int kMessagesPerBatch = 50;
constexpr std::size_t kLongestMessage = 1024;
constexpr DWORD kMarkerWaitMs = 30000;

const char* const kCommands[] = {"c:",
                                 "app_exit:123",
                                 "stop_for_update",
                                 "hibernate",
                                 "OpenFireWall:1",
                                 "\"OpenFireWall\":\"1\",\"ports\":\"80\"",
                                 "CloseFireWall",
                                 "InstallCameraDriver",
                                 "InstallBrisaDriveDriver",
                                 "InstallScreenShareDriver"};

// A random message: random bytes (one in two), or a command with bytes changed, inserted, removed or
// appended. Empty when the service would take it for a command.
std::string Candidate(std::mt19937& random, bool* fromCommand)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text;
    *fromCommand = random() % 2 != 0;
    if (!*fromCommand) {
        const std::size_t length = 1 + random() % kLongestMessage;
        for (std::size_t i = 0; i < length; ++i) {
            text += static_cast<char>(byte(random));
        }
    } else {
        text = kCommands[random() % (sizeof(kCommands) / sizeof(kCommands[0]))];
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int edit = 0; edit < edits; ++edit) {
            const std::size_t at = text.empty() ? 0 : random() % text.size();
            switch (random() % 4) {
            case 0:
                if (!text.empty()) {
                    text[at] = static_cast<char>(byte(random));
                }
                break;
            case 1: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(byte(random))); break;
            case 2:
                if (!text.empty()) {
                    text.erase(at, 1);
                }
                break;
            default: text += static_cast<char>(byte(random)); break;
            }
        }
    }
    // What the service reads is the text up to its first zero byte.
    const std::string dispatched = text.substr(0, text.find('\0'));
    return MatchPipeCommand(dispatched.c_str()) == PipeCommand::None ? text : std::string();
}

// The stand-in's "send" step for one message, every byte escaped inside quotes.
std::string SendStep(const std::string& message)
{
    std::string step = "send \"";
    char hex[8];
    for (unsigned char c : message) {
        std::snprintf(hex, sizeof(hex), "\\x%02X", c);
        step += hex;
    }
    return step + "\"";
}

struct Figures {
    int probedHandles = 0;
    SIZE_T privateBytes = 0;
    SIZE_T workingSet = 0;
};

Figures Measure(HANDLE service)
{
    Figures figures;
    figures.probedHandles = ProbeHandleCount(service);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (::GetProcessMemoryInfo(service, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
        figures.privateBytes = memory.PrivateUsage;
        figures.workingSet = memory.WorkingSetSize;
    }
    return figures;
}

// Prints the figures of one point and waits for the script's reading of /proc.
void Mark(HANDLE service, const std::string& name, const std::wstring& markerFolder)
{
    // Let the reconnected client settle into its read.
    ::Sleep(500);
    const Figures figures = Measure(service);
    Print((name + "_handles").c_str(), figures.probedHandles);
    Print((name + "_private_kib").c_str(), static_cast<double>(figures.privateBytes) / 1024.0);
    Print((name + "_working_set_kib").c_str(), static_cast<double>(figures.workingSet) / 1024.0);
    std::printf("mark %s\n", name.c_str());
    std::fflush(stdout);
    const std::wstring marker = markerFolder + L"\\" + std::wstring(name.begin(), name.end());
    harness::WaitFor([&] { return harness::PathExists(marker); }, kMarkerWaitMs, 50);
}

int CountOccurrences(const std::string& text, const std::string& needle)
{
    int count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// Lines end in CR LF; the message follows the header's tag and two blanks.
int CountLogLines(const std::string& log, const std::string& message)
{
    return CountOccurrences(log, "  " + message + "\r\n");
}

int CountLogPrefix(const std::string& log, const std::string& prefix) { return CountOccurrences(log, "  " + prefix); }

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int cycles = argc > 1 ? std::max(1, _wtoi(argv[1])) : 1000;
    const int messages = argc > 2 ? std::max(0, _wtoi(argv[2])) : 10000;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(_wtoi(argv[3])) : 9;
    const std::wstring markerFolder = argc > 4 ? argv[4] : L"C:\\";

    ClearStage();

    // The log on, so that everything the service does shows; breaks that are no crash.
    const std::wstring settings = harness::UserSettingsPath();
    harness::CreateFolders(settings.substr(0, settings.rfind(L'\\')));
    const std::wstring dataFolder = settings.substr(0, settings.rfind(L'\\'));
    ::CreateDirectoryW((dataFolder + L"\\logs").c_str(), nullptr);
    UniqueFileHandle(::CreateFileW((dataFolder + L"\\logs\\debug").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    SetCorvaneKey(L"exit", L"1");
    SetCorvaneKey(L"hibernating", L"0");
    SetCorvaneKey(L"AppExit", L"0");
    ::WritePrivateProfileStringW(L"SC", L"crash", nullptr, (dataFolder + L"\\BrisaData.ini").c_str());

    Link link;
    if (!InstallService(&link)) {
        std::printf("failures 1\n");
        return 1;
    }
    UniqueHandle service(
        ::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, link.servicePid));
    if (!service || !StartConnectedApp(&link)) {
        std::printf("failures 1\n");
        ClearStage();
        return 1;
    }

    // The log is the day's file, which may hold earlier runs: this run's lines are those after its size now.
    wchar_t logPath[MAX_PATH * 2] = {};
    ::GetPrivateProfileStringW(L"Service", L"Log_Path", L"", logPath, MAX_PATH * 2, settings.c_str());
    const std::size_t logStart = harness::ReadFileBytes(logPath).size();

    int failures = 0;
    const double cyclesBegin = bench::NowMs();
    int done = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        App().ClearJournal();
        // The journal is emptied first, so that the connection awaited is this cycle's.
        if (!App().AppendInbox(L"disconnect") || !WaitConnected(link)) {
            ++failures;
            break;
        }
        ++done;
        if (cycle == 1) {
            Mark(service.get(), "after_first_cycle", markerFolder);
        }
    }
    Print("cycles_done", done);
    Print("cycles_seconds", (bench::NowMs() - cyclesBegin) / 1000.0);
    Mark(service.get(), "after_last_cycle", markerFolder);

    std::mt19937 random(seed);
    int sent = 0;
    int mutated = 0;
    int refused = 0;
    const double messagesBegin = bench::NowMs();
    while (sent < messages && failures == 0) {
        std::string batch;
        int inBatch = 0;
        while (inBatch < kMessagesPerBatch && sent + inBatch < messages) {
            bool fromCommand = false;
            const std::string message = Candidate(random, &fromCommand);
            if (message.empty()) {
                ++refused;
                continue;
            }
            mutated += fromCommand ? 1 : 0;
            batch += SendStep(message) + "; sleep " + std::to_string(kSendSpacingMs) + "\n";
            ++inBatch;
        }
        const int target = sent + inBatch;
        if (!App().AppendInbox(harness::FromUtf8(batch)) ||
            !harness::WaitFor([&] { return CountRecords([](const Record& r) { return r.event == "send"; }) >= inBatch; },
                  kWaitMs + inBatch * kSendSpacingMs, 20)) {
            ++failures;
            break;
        }
        sent = target;
        App().ClearJournal();
    }
    // The last message's read and log line.
    ::Sleep(1000);
    Print("messages_sent", sent);
    Print("messages_mutated_commands", mutated);
    Print("candidates_refused_as_commands", refused);
    Print("messages_seconds", (bench::NowMs() - messagesBegin) / 1000.0);
    Mark(service.get(), "after_messages", markerFolder);

    // What the service did in this run, from its log, and whether it still runs as the same process.
    const std::string wholeLog = harness::ReadFileBytes(logPath);
    const std::string log = wholeLog.size() >= logStart ? wholeLog.substr(logStart) : wholeLog;
    Print("service_running",
          harness::ServiceState() == SERVICE_RUNNING && harness::ServiceProcessId() == link.servicePid ? 1 : 0);
    Print("log_bytes", static_cast<double>(log.size()));
    Print("log_readfile_fail", CountLogLines(log, "ReadFile fail"));
    Print("log_validated", CountLogLines(log, "ValidateAssembly result is true"));
    Print("log_startclient", CountLogLines(log, "StartClient"));
    Print("log_crash_rule", CountLogLines(log, "CVA_exit == EXIT_COMMAND_SEND_NONE"));
    Print("log_runcorvane", CountLogLines(log, "RunCorvane"));
    Print("log_killcorvane", CountLogPrefix(log, "KillCorvane") + CountLogPrefix(log, "Terminate Process"));
    Print("log_cva_crash", CountLogLines(log, "CVA crash"));
    Print("log_exit_notice", CountLogPrefix(log, "Corvane exit"));
    Print("log_onclientthreadexit", CountLogLines(log, "OnClientThreadExit"));
    wchar_t crash[32] = {};
    ::GetPrivateProfileStringW(L"SC", L"crash", L"", crash, 32, (dataFolder + L"\\BrisaData.ini").c_str());
    Print("crash_counter_written", crash[0] != L'\0' ? 1 : 0);
    Print("app_still_running", ::WaitForSingleObject(link.app.get(), 0) == WAIT_TIMEOUT ? 1 : 0);

    ClearStage();
    ::DeleteFileW((dataFolder + L"\\logs\\debug").c_str());
    SetCorvaneKey(L"exit", nullptr);
    SetCorvaneKey(L"hibernating", nullptr);
    SetCorvaneKey(L"AppExit", nullptr);
    std::printf("failures %d\n", failures);
    return 0;
}
