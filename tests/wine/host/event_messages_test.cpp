// The event log's texts as Event Viewer finds them: the message table built into DemonService.exe.

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "Sandbox.h"
#include "base/Win32Resources.h"
#include "base/EventText.h"

using namespace harness;

namespace {

// One event of every id, with inserts that cannot be mistaken for the templates' own words.
std::vector<EventRecord> OneOfEach()
{
    return {
        ServiceStartedEvent(L"<version>"),
        ServiceStoppedEvent(L"<version>", StopCause::StopForUpdate),
        ApplicationRestartedEvent(417, L"<application>"),
        ServerRefusedEvent(L"<server>", TrustRefusal::AnotherSessionOrUser),
        InstallerNotStartedEvent(L"<installer>", InstallerProblem::StartFailed, 31),
        FirewallOpenedEvent(418, true),
        FirewallClosedEvent(419),
        ServiceRecoveredEvent(L"<version>"),
        PanicEntryEvent(L"<entry>"),
        EventsHeldBackEvent(EventId::ServerRefused, 420, 421000),
    };
}

TEST(EventMessages, TheExecutableHoldsATextForEveryIdWithEachInsertInPlace)
{
    const UniqueModule module(::LoadLibraryExW(ServiceExePath().c_str(), nullptr,
                                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module.valid()) << ::GetLastError();
    const std::vector<EventRecord> events = OneOfEach();
    ASSERT_EQ(events.size(), sizeof(kAllEventIds) / sizeof(kAllEventIds[0]));
    for (std::size_t i = 0; i < events.size(); ++i) {
        const EventRecord& event = events[i];
        SCOPED_TRACE(static_cast<unsigned>(event.id));
        EXPECT_EQ(event.id, kAllEventIds[i]);
        std::vector<DWORD_PTR> arguments;
        for (const std::wstring& insert : event.inserts) {
            arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
        }
        wchar_t text[1024] = {};
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module.get(), static_cast<DWORD>(event.id),
            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 1024, reinterpret_cast<va_list*>(arguments.data()));
        ASSERT_GT(length, 0u) << ::GetLastError();
        const std::wstring message(text, length);
        // Every insert stands in the text, and no insert number is left without one.
        for (const std::wstring& insert : event.inserts) {
            EXPECT_NE(message.find(insert), std::wstring::npos) << ToUtf8(insert) << " in " << ToUtf8(message);
        }
        EXPECT_EQ(message.find(L'%'), std::wstring::npos) << ToUtf8(message);
    }
}

} // namespace
