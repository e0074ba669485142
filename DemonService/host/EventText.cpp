#include "host/EventText.h"

#include <cwchar>

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

const wchar_t kHexDigits[] = L"0123456789ABCDEF";

bool IsControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

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

const wchar_t* ServerRefusalText(ServerRefusal why)
{
    switch (why) {
    case ServerRefusal::NotSigned:
        return L"not signed";
    case ServerRefusal::OutsideInstallFolder:
        return L"outside the install folder";
    case ServerRefusal::OtherSessionOrUser:
        return L"another session or user";
    case ServerRefusal::InstallFolderWritable:
        return L"install folder writable by users";
    case ServerRefusal::ValidatorUnusable:
        return L"validation library unusable";
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

EventRecord ServerRefusedEvent(const std::wstring& serverPath, ServerRefusal why)
{
    return Make(EventId::ServerRefused, EventLevel::Warning, {EscapeEventInsert(serverPath), ServerRefusalText(why)});
}

EventRecord InstallerNotStartedEvent(const std::wstring& installerPath, InstallerProblem problem, long code)
{
    const std::wstring reason = problem == InstallerProblem::StartFailed
                                    ? L"the start failed (result " + Number(code) + L")"
                                    : L"its signature check failed or could not be made (result " + Number(code) + L")";
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
    std::wstring escaped;
    escaped.reserve(text.size() < kMaxInsertChars ? text.size() : kMaxInsertChars);
    for (const wchar_t c : text) {
        wchar_t piece[5] = {c, L'\0'};
        if (c == L'\r' || c == L'\n' || c == L'\t') {
            piece[0] = L'\\';
            piece[1] = c == L'\r' ? L'r' : (c == L'\n' ? L'n' : L't');
            piece[2] = L'\0';
        } else if (IsControl(c)) {
            piece[0] = L'\\';
            piece[1] = L'x';
            piece[2] = kHexDigits[(c >> 4) & 0xF];
            piece[3] = kHexDigits[c & 0xF];
            piece[4] = L'\0';
        }
        const std::size_t length = std::wcslen(piece);
        // An escape is never cut in half: the text ends before it instead.
        if (escaped.size() + length > kMaxInsertChars) {
            break;
        }
        escaped.append(piece, length);
    }
    return escaped;
}
