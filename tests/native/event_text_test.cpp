#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/EventRateLimit.h"
#include "base/EventText.h"

namespace {

using Inserts = std::vector<std::wstring>;

TEST(EventText, EachOccurrenceHasItsOwnStableIdLevelAndInserts)
{
    const struct {
        EventRecord record;
        unsigned id;
        EventLevel level;
        Inserts inserts;
    } cases[] = {
        {ServiceStartedEvent(L"1.0.0"), 1000, EventLevel::Information, {L"1.0.0"}},
        {ServiceStoppedEvent(L"1.0.0", StopCause::Control), 1001, EventLevel::Information, {L"1.0.0", L"control"}},
        {ServiceStoppedEvent(L"1.0.0", StopCause::Shutdown), 1001, EventLevel::Information, {L"1.0.0", L"shutdown"}},
        {ServiceStoppedEvent(L"1.0.0", StopCause::StopForUpdate), 1001, EventLevel::Information,
         {L"1.0.0", L"stop_for_update"}},
        {ApplicationRestartedEvent(5, L"C:\\Program Files\\Corvane\\Corvane.exe"), 1002, EventLevel::Warning,
         {L"5", L"C:\\Program Files\\Corvane\\Corvane.exe"}},
        {ServerRefusedEvent(L"C:\\x.exe", TrustRefusal::NotSigned), 1003, EventLevel::Warning, {L"C:\\x.exe", L"not signed"}},
        {ServerRefusedEvent(L"", TrustRefusal::OutsideInstallFolder), 1003, EventLevel::Warning,
         {L"", L"outside the install folder"}},
        {ServerRefusedEvent(L"a", TrustRefusal::AnotherSessionOrUser), 1003, EventLevel::Warning, {L"a", L"another session or user"}},
        {ServerRefusedEvent(L"a", TrustRefusal::FolderWritableByUsers), 1003, EventLevel::Warning,
         {L"a", L"install folder writable by users"}},
        {ServerRefusedEvent(L"a", TrustRefusal::ValidatorUnusable), 1003, EventLevel::Warning,
         {L"a", L"validation library unusable"}},
        {InstallerNotStartedEvent(L"C:\\d\\devcon.exe", InstallerProblem::NotValidated, 6), 1004, EventLevel::Error,
         {L"C:\\d\\devcon.exe", L"its signature check failed or could not be made (result 6)"}},
        {InstallerNotStartedEvent(L"C:\\d\\devcon.exe", InstallerProblem::NotValidated, 5, TrustRefusal::FolderWritableByUsers),
         1004, EventLevel::Error, {L"C:\\d\\devcon.exe", L"refused: install folder writable by users (result 5)"}},
        {InstallerNotStartedEvent(L"C:\\d\\devcon.exe", InstallerProblem::StartFailed, 2), 1004, EventLevel::Error,
         {L"C:\\d\\devcon.exe", L"the start failed (result 2)"}},
        {FirewallOpenedEvent(12, true), 1005, EventLevel::Information,
         {L"12", L"restricted (no inbound rule for the Public profile)"}},
        {FirewallOpenedEvent(0, false), 1005, EventLevel::Information, {L"0", L"not restricted"}},
        {FirewallClosedEvent(3), 1006, EventLevel::Information, {L"3"}},
        {ServiceRecoveredEvent(L"1.0.0"), 1007, EventLevel::Information, {L"1.0.0"}},
        {PanicEntryEvent(L"StartServiceCtrlDispatcher fail"), 1008, EventLevel::Error, {L"StartServiceCtrlDispatcher fail"}},
        {EventsHeldBackEvent(EventId::ServerRefused, 47, 600000), 1009, EventLevel::Warning, {L"47", L"1003", L"600"}},
        {EventsHeldBackEvent(EventId::ApplicationRestarted, 1, 1001), 1009, EventLevel::Warning, {L"1", L"1002", L"2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(static_cast<unsigned>(c.record.id), c.id);
        EXPECT_EQ(c.record.level, c.level);
        EXPECT_EQ(c.record.inserts, c.inserts);
    }
    // The table lists every id once, 1000 to 1009.
    unsigned expected = 1000;
    for (const EventId id : kAllEventIds) {
        EXPECT_EQ(static_cast<unsigned>(id), expected++);
    }
}

TEST(EventText, TextFromOutsideCannotBreakLinesHideTextOrRunLong)
{
    // A path or message from outside: line ends, tabs and other control characters are shown, never obeyed.
    EXPECT_EQ(PanicEntryEvent(L"a\r\nb\tc\x1b[2Jd\x7f\x85").inserts[0], L"a\\r\\nb\\tc\\x1B[2Jd\\x7F\\x85");
    EXPECT_EQ(ServerRefusedEvent(std::wstring(L"C:\\a\0b", 6), TrustRefusal::NotSigned).inserts[0], L"C:\\a\\x00b");
    // A path that would read as another in the event's text is shown with its override written out.
    EXPECT_EQ(ServerRefusedEvent(L"C:\\Users\\u\\Corvane\x202E" L"exe.scr", TrustRefusal::OutsideInstallFolder).inserts[0],
              L"C:\\Users\\u\\Corvane\\u202Eexe.scr");
    // Backslashes, quotes, percent signs and text beyond ASCII stay as they are.
    EXPECT_EQ(EscapeEventInsert(L"C:\\Program Files\\\"%1\"\x00e9\x4e2d"), L"C:\\Program Files\\\"%1\"\x00e9\x4e2d");

    // Cut to the limit, and never in the middle of an escape.
    const std::wstring longPath(kMaxInsertChars + 10, L'x');
    EXPECT_EQ(ApplicationRestartedEvent(1, longPath).inserts[1].size(), kMaxInsertChars);
    const std::wstring text = std::wstring(kMaxInsertChars - 2, L'x') + L"\n";
    EXPECT_EQ(EscapeEventInsert(text), text.substr(0, kMaxInsertChars - 2) + L"\\n");
    const std::wstring tooLong = std::wstring(kMaxInsertChars - 3, L'x') + L"\x01";
    EXPECT_EQ(EscapeEventInsert(tooLong), tooLong.substr(0, kMaxInsertChars - 3));
}

constexpr std::uint16_t kRefused = 1003;
constexpr std::uint16_t kRestarted = 1002;

TEST(EventRateLimit, TenOfAnIdPassInItsPeriodTheRestAreSummedUpWhenThePeriodEnds)
{
    EventRateLimiter limiter;
    std::vector<HeldBackEvents> ended;
    const std::uint64_t start = 5000;
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(limiter.Admit(kRefused, start + i * 1000, &ended)) << i;
    }
    for (int i = 0; i < 25; ++i) {
        EXPECT_FALSE(limiter.Admit(kRefused, start + 20000 + i * 1000, &ended)) << i;
    }
    // Another id has its own count.
    EXPECT_TRUE(limiter.Admit(kRestarted, start + 60000, &ended));

    // Nothing is summed up before the period is over; at its end, one notice for the held-back id only.
    limiter.Expire(start + kEventPeriodMs - 1, &ended);
    EXPECT_TRUE(ended.empty());
    limiter.Expire(start + kEventPeriodMs, &ended);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].id, kRefused);
    EXPECT_EQ(ended[0].count, 25u);
    EXPECT_EQ(ended[0].periodMs, kEventPeriodMs);

    // A new period begins with the next event, found late or not, and it is not counted twice.
    ended.clear();
    EXPECT_TRUE(limiter.Admit(kRefused, start + 3 * kEventPeriodMs, &ended));
    EXPECT_TRUE(ended.empty());
    limiter.Expire(start + 5 * kEventPeriodMs, &ended);
    EXPECT_TRUE(ended.empty());
}

TEST(EventRateLimit, AnEventAfterThePeriodEndedBringsTheNoticeFirstAndAStopFlushesWhatIsOpen)
{
    EventRateLimiter limiter;
    std::vector<HeldBackEvents> ended;
    for (int i = 0; i < 12; ++i) {
        limiter.Admit(kRestarted, 0, &ended);
    }
    EXPECT_TRUE(limiter.Admit(kRestarted, kEventPeriodMs + 5, &ended));
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].count, 2u);

    // At a stop every open period is closed: its notice names the time it really lasted.
    ended.clear();
    for (int i = 0; i < 13; ++i) {
        limiter.Admit(kRefused, kEventPeriodMs + 1000, &ended);
    }
    limiter.Flush(kEventPeriodMs + 31000, &ended);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].id, kRefused);
    EXPECT_EQ(ended[0].count, 3u);
    EXPECT_EQ(ended[0].periodMs, 30000u);
    // A clock value before a period's start ends nothing and counts as no time.
    ended.clear();
    for (int i = 0; i < 11; ++i) {
        limiter.Admit(kRefused, 500000, &ended);
    }
    limiter.Expire(1000, &ended);
    EXPECT_TRUE(ended.empty());
    limiter.Flush(1000, &ended);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].periodMs, 0u);
}

TEST(EventRateLimit, EachSubjectOfAnIdHasABudgetOfItsOwnUpToTheLimitOfSubjects)
{
    constexpr std::uint16_t kRefused = 1003;
    EventRateLimiter limiter;
    std::vector<HeldBackEvents> ended;
    // One server path that spends its budget leaves another's first event alone.
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(limiter.Admit(kRefused, L"C:\\squatter.exe", i, &ended));
    }
    EXPECT_FALSE(limiter.Admit(kRefused, L"C:\\squatter.exe", 10, &ended));
    EXPECT_TRUE(limiter.Admit(kRefused, L"C:\\other.exe", 11, &ended));
    // Past ten subjects, new ones share the id's own budget.
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(limiter.Admit(kRefused, L"C:\\copy" + std::to_wstring(i) + L".exe", 12 + i, &ended));
    }
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(limiter.Admit(kRefused, L"C:\\more" + std::to_wstring(i) + L".exe", 20 + i, &ended));
    }
    EXPECT_FALSE(limiter.Admit(kRefused, L"C:\\yet-another.exe", 30, &ended));
    EXPECT_FALSE(limiter.Admit(kRefused, 31, &ended));
    // Each held-back count is told when its period ends, under the id.
    limiter.Expire(kEventPeriodMs + 100, &ended);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[0].id, kRefused);
    EXPECT_EQ(ended[0].count + ended[1].count, 3u);
}

} // namespace
