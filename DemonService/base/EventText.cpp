#include "base/EventText.h"

#include "base/LogFormat.h"

namespace {

std::wstring Number(long long value) { return std::to_wstring(value); }

EventRecord Make(EventId id, EventLevel level, std::vector<std::wstring> inserts)
{
    EventRecord record;
    record.id = id;
    record.level = level;
    record.inserts = std::move(inserts);
    return record;
}

} // namespace

const wchar_t* StopCauseText(StopCause cause)
{
    switch (cause) {
    case StopCause::Control:
        return L"control";
    case StopCause::Shutdown:
        return L"shutdown";
    case StopCause::StopForUpdate:
        return L"stop_for_update";
    }
    return L"control";
}

const wchar_t* ServerRefusalText(TrustRefusal why)
{
    switch (why) {
    case TrustRefusal::NotSigned:
        return L"not signed";
    case TrustRefusal::OutsideInstallFolder:
        return L"outside the install folder";
    case TrustRefusal::AnotherSessionOrUser:
        return L"another session or user";
    case TrustRefusal::FolderWritableByUsers:
        return L"install folder writable by users";
    case TrustRefusal::ValidatorUnusable:
        return L"validation library unusable";
    case TrustRefusal::None:
        break;
    }
    return L"not signed";
}

EventRecord ServiceStartedEvent(const std::wstring& version)
{
    return Make(EventId::ServiceStarted, EventLevel::Information, {EscapeEventInsert(version)});
}

EventRecord ServiceStoppedEvent(const std::wstring& version, StopCause cause)
{
    return Make(EventId::ServiceStopped, EventLevel::Information, {EscapeEventInsert(version), StopCauseText(cause)});
}

EventRecord ServiceRecoveredEvent(const std::wstring& version)
{
    return Make(EventId::ServiceRecovered, EventLevel::Information, {EscapeEventInsert(version)});
}

EventRecord ApplicationRestartedEvent(long crashCount, const std::wstring& appPath)
{
    return Make(EventId::ApplicationRestarted, EventLevel::Warning, {Number(crashCount), EscapeEventInsert(appPath)});
}

EventRecord ServerRefusedEvent(const std::wstring& serverPath, TrustRefusal why)
{
    EventRecord record =
        Make(EventId::ServerRefused, EventLevel::Warning, {EscapeEventInsert(serverPath), ServerRefusalText(why)});
    record.rateSubject = serverPath;
    return record;
}

EventRecord InstallerNotStartedEvent(const std::wstring& installerPath, InstallerProblem problem, long code,
                                     TrustRefusal why)
{
    std::wstring reason;
    if (problem == InstallerProblem::StartFailed) {
        reason = L"the start failed (result " + Number(code) + L")";
    } else if (why == TrustRefusal::NotSigned || why == TrustRefusal::None) {
        reason = L"its signature check failed or could not be made (result " + Number(code) + L")";
    } else {
        reason = std::wstring(L"refused: ") + ServerRefusalText(why) + L" (result " + Number(code) + L")";
    }
    return Make(EventId::InstallerNotStarted, EventLevel::Error, {EscapeEventInsert(installerPath), reason});
}

EventRecord FirewallOpenedEvent(long rulesAdded, bool restricted)
{
    return Make(EventId::FirewallOpened, EventLevel::Information,
                {Number(rulesAdded), restricted ? L"restricted (no inbound rule for the Public profile)" : L"not restricted"});
}

EventRecord FirewallClosedEvent(long rulesRemoved)
{
    return Make(EventId::FirewallClosed, EventLevel::Information, {Number(rulesRemoved)});
}

EventRecord PanicEntryEvent(const std::wstring& entry)
{
    return Make(EventId::PanicEntry, EventLevel::Error, {EscapeEventInsert(entry)});
}

EventRecord EventsHeldBackEvent(EventId heldId, unsigned long heldCount, std::uint64_t periodMs)
{
    // Whole seconds, rounded up: a period is never shown shorter than it was.
    const std::uint64_t seconds = periodMs / 1000 + (periodMs % 1000 != 0 ? 1 : 0);
    return Make(EventId::EventsHeldBack, EventLevel::Warning,
                {Number(static_cast<long long>(heldCount)), Number(static_cast<long long>(heldId)),
                 Number(static_cast<long long>(seconds))});
}

std::wstring EscapeEventInsert(const std::wstring& text)
{
    return EscapeControlCharacters(text, kMaxInsertChars);
}
