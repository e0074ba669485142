#include "PipeFixture.h"

namespace pipe_test {

std::wstring BackgroundCommandLine(const harness::StandInApp& app)
{
    return L"\"" + app.ExePath() + L"\" /mode:background";
}

bool IsStart(const harness::JournalRecord& record)
{
    return harness::Field(record, L"event") == L"start";
}

DWORD Pid(const harness::JournalRecord& record)
{
    return static_cast<DWORD>(harness::NumberField(record, L"pid"));
}

int LinkTest::CountLogged(const char* tag, const std::string& message) const
{
    int count = 0;
    for (const LogLine& line : Logged()) {
        count += line.tag == tag && line.message == message ? 1 : 0;
    }
    return count;
}

int LinkTest::CountLoggedPrefix(const char* tag, const std::string& prefix) const
{
    int count = 0;
    for (const LogLine& line : Logged()) {
        count += line.tag == tag && line.message.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return count;
}

bool LinkTest::WaitLogged(const char* tag, const std::string& message, int count, DWORD timeoutMs) const
{
    return harness::WaitFor([&] { return CountLogged(tag, message) >= count; }, timeoutMs, 50);
}

bool LinkTest::WaitNextConnectAttempt() const
{
    return harness::WaitFor(
        [&] {
            bool broken = false;
            bool attempted = false;
            for (const LogLine& line : Logged()) {
                if (line.tag != kClientTag) {
                    continue;
                }
                if (line.message == "ReadFile fail") {
                    broken = true;
                    attempted = false;
                } else if (broken && (line.message == "handle == INVALID_HANDLE_VALUE 1" ||
                                      line.message.compare(0, 11, "serverPath:") == 0)) {
                    attempted = true;
                }
            }
            return attempted;
        },
        kNextConnectTimeoutMs);
}

std::vector<std::string> LinkTest::MessagesFrom(const char* tag, const std::string& from) const
{
    std::vector<std::string> messages;
    bool found = false;
    for (const LogLine& line : Logged()) {
        found = found || (line.tag == tag && line.message == from);
        if (found && line.tag == tag) {
            messages.push_back(line.message);
        }
    }
    return messages;
}

bool LinkTest::WaitReading() const
{
    return harness::WaitFor([this] { return profile.ServiceKey(L"Connected") == L"Connected"; }, kConnectTimeoutMs);
}

void LinkTest::SetCorvaneKey(const wchar_t* key, const std::wstring& value) const
{
    ASSERT_TRUE(harness::IniWrite(profile.IniPath(), harness::kCorvaneSection, key, value));
}

UniqueHandle LinkTest::StartApp(DWORD* processId) const
{
    UniqueHandle process = app.Start(std::wstring(), processId);
    EXPECT_TRUE(process.valid());
    return process;
}

bool LinkTest::WaitVerified(DWORD appId, DWORD clientId)
{
    const bool connected = app.WaitForRecord(
        [&](const harness::JournalRecord& record) {
            return harness::Field(record, L"event") == L"client-connected" && Pid(record) == appId &&
                   harness::NumberField(record, L"client") == clientId;
        },
        kConnectTimeoutMs);
    ++m_verified;
    return connected && WaitLogged(kClientTag, "ValidateAssembly result is true", m_verified, kConnectTimeoutMs);
}

std::vector<harness::JournalRecord> LinkTest::WaitForOtherStarts(const std::vector<DWORD>& known, DWORD timeoutMs,
                                                                   std::size_t count) const
{
    std::vector<harness::JournalRecord> others;
    harness::WaitFor(
        [&] {
            others.clear();
            for (const harness::JournalRecord& start : app.Starts()) {
                bool old = false;
                for (DWORD id : known) {
                    old = old || Pid(start) == id;
                }
                if (!old) {
                    others.push_back(start);
                }
            }
            return others.size() >= count;
        },
        timeoutMs, 50);
    return others;
}

harness::JournalRecord LinkTest::WaitStep(const wchar_t* step, DWORD processId, DWORD timeoutMs) const
{
    harness::JournalRecord found;
    EXPECT_TRUE(app.WaitForEvent(step, processId, timeoutMs, &found)) << harness::ToUtf8(step);
    return found;
}

void ServiceLinkTest::SetUp()
{
    harness::RemoveOrvelIfPresent();
    LinkTest::SetUp();
}

void ServiceLinkTest::TearDown()
{
    harness::RemoveOrvelIfPresent();
    LinkTest::TearDown();
}

void ServiceLinkTest::StartService()
{
    ASSERT_EQ(harness::RunServiceExe(L"-install"), 0u);
    ASSERT_TRUE(harness::WaitForServiceState(SERVICE_RUNNING, kStartTimeoutMs));
    servicePid = ServiceProcessId();
    ASSERT_NE(servicePid, 0u);
    ASSERT_TRUE(WaitLogged(kServiceTag, "StartClient"));
    // The client's own start keys are its last writes until a connection: the settings file is the
    // test's to change from here on.
    ASSERT_TRUE(harness::WaitFor([this] { return profile.ServiceKey(L"Client_run") == L"Running m_isExit = 0"; },
                                 kConnectTimeoutMs));
}

UniqueHandle ServiceLinkTest::StartVerifiedApp(DWORD* processId)
{
    UniqueHandle process = StartApp(processId);
    EXPECT_TRUE(WaitVerified(*processId, servicePid));
    return process;
}

} // namespace pipe_test
