#pragma once

// The smallest world in which the service supervises the application: a console user whose data
// folder is a fresh temp folder with the log switched on, the installed stand-in with no instance
// running and an empty journal, and a context built from that.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ContextSandbox.h"
#include "DemonService.h"
#include "StandInApp.h"
#include "StandInTest.h"

namespace supervision_test {

using harness::kStartTimeoutMs;
using harness::kTerminatedExitCode;
constexpr DWORD kExitTimeoutMs = 5000;
// The step between two handle values: a leak of n handles moves the next value by n steps.
constexpr std::uintptr_t kHandleStep = 4;

class SupervisionTest : public harness::StandInTest {
protected:
    void SetUp() override
    {
        StandInTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        service = harness::FreshContext();
        ASSERT_NE(service, nullptr);
        ASSERT_EQ(service->AppPath(), app.ExePath());
    }

    void TearDown() override
    {
        StandInTest::TearDown();
        harness::DropContext();
    }

    // The messages of the service's log lines (tag "DemonService"), in order.
    std::vector<std::string> Logged() const
    {
        std::vector<std::string> messages;
        for (const harness::LogLine& line : profile.LogLines()) {
            if (line.tag == "DemonService") {
                messages.push_back(line.message);
            }
        }
        return messages;
    }

    int CountLogged(const std::string& message) const
    {
        int count = 0;
        for (const std::string& logged : Logged()) {
            count += logged == message ? 1 : 0;
        }
        return count;
    }

    // Starts an instance directly and waits until it has journalled its start.
    UniqueHandle StartInstance(const harness::StandInApp& which, DWORD* processId)
    {
        UniqueHandle process = which.Start(std::wstring(), processId);
        EXPECT_TRUE(process.valid());
        EXPECT_TRUE(which.WaitForRecord(
            [processId](const harness::JournalRecord& record) {
                return harness::Field(record, L"event") == L"start" &&
                       harness::NumberField(record, L"pid") == *processId;
            },
            kStartTimeoutMs));
        return process;
    }

    DemonService* service = nullptr;
};

inline std::string Format(const char* format, unsigned long value)
{
    char text[128] = {};
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

inline bool Ended(HANDLE process, DWORD* exitCode = nullptr)
{
    return harness::WaitForExit(process, kExitTimeoutMs, exitCode);
}

} // namespace supervision_test

namespace supervision_test {

// Runs its action when the scope ends, however a test leaves it.
template <typename Action>
class ScopeExit {
public:
    explicit ScopeExit(Action action) : m_action(action) {}
    ~ScopeExit() { m_action(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Action m_action;
};

} // namespace supervision_test
