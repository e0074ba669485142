#include "base/EventLog.h"

#include <windows.h>

#include <cwchar>
#include <mutex>
#include <vector>

#include "base/AnsiText.h"
#include "base/DiagnosticLog.h"
#include "base/EventRateLimit.h"
#include "base/OwnImagePath.h"
#include "base/ProductVersion.h"
#include "base/Win32Resources.h"

namespace {

constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
static_assert(kTypesSupported == 7, "error, warning and information");
static_assert(static_cast<WORD>(EventLevel::Error) == EVENTLOG_ERROR_TYPE, "error level");
static_assert(static_cast<WORD>(EventLevel::Warning) == EVENTLOG_WARNING_TYPE, "warning level");
static_assert(static_cast<WORD>(EventLevel::Information) == EVENTLOG_INFORMATION_TYPE, "information level");

constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Orvel";
constexpr wchar_t kRunMarkerName[] = L"Running";
constexpr std::size_t kEventSourceLogBytes = 128;

struct Limiter {
    std::mutex lock;
    EventRateLimiter limiter;
};

Limiter& TheLimiter()
{
    static Limiter* limiter = new Limiter();  // never destroyed: threads may still report at exit
    return *limiter;
}

void Write(const EventRecord& event)
{
    const UniqueEventSource source(::RegisterEventSourceW(nullptr, kEventSourceName));
    if (!source) {
        return;
    }
    std::vector<const wchar_t*> strings;
    strings.reserve(event.inserts.size());
    for (const std::wstring& insert : event.inserts) {
        strings.push_back(insert.c_str());
    }
    ::ReportEventW(source.get(), static_cast<WORD>(event.level), 0, static_cast<DWORD>(event.id), nullptr,
                   static_cast<WORD>(strings.size()), 0, strings.empty() ? nullptr : strings.data(), nullptr);
}

void WriteHeldBack(const std::vector<HeldBackEvents>& ended)
{
    for (const HeldBackEvents& held : ended) {
        Write(EventsHeldBackEvent(static_cast<EventId>(held.id), held.count, held.periodMs));
    }
}

} // namespace

bool InstallEventSource()
{
    wchar_t ownImage[kOwnImagePathChars] = {};
    GetOwnImagePath(ownImage);
    UniqueRegKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        const DWORD pathBytes = static_cast<DWORD>((std::wcslen(ownImage) + 1) * sizeof(wchar_t));
        status = ::RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                                  reinterpret_cast<const BYTE*>(ownImage), pathBytes);
    }
    if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&kTypesSupported), sizeof(kTypesSupported));
    }
    if (status != ERROR_SUCCESS) {
        LOG_SERVICE_F(kEventSourceLogBytes, "InstallEventSource fail ,error =%ld", static_cast<long>(status));
        return false;
    }
    return true;
}

bool RemoveEventSource()
{
    const LSTATUS status = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

void ReportToEventLog(const EventRecord& event)
{
    std::vector<HeldBackEvents> ended;
    bool admitted = false;
    {
        Limiter& limiter = TheLimiter();
        std::lock_guard<std::mutex> guard(limiter.lock);
        admitted = limiter.limiter.Admit(static_cast<std::uint16_t>(event.id), event.rateSubject, ::GetTickCount64(),
                                         &ended);
    }
    WriteHeldBack(ended);
    if (admitted) {
        Write(event);
    }
}

void ReportHeldBackEvents()
{
    std::vector<HeldBackEvents> ended;
    {
        Limiter& limiter = TheLimiter();
        std::lock_guard<std::mutex> guard(limiter.lock);
        limiter.limiter.Expire(::GetTickCount64(), &ended);
    }
    WriteHeldBack(ended);
}

void ReportServiceStarted()
{
    bool recovered = false;
    UniqueRegKey service;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_CREATE_SUB_KEY, service.put()) == ERROR_SUCCESS) {
        // Created under the existing registration only: a volatile parent would be made with it otherwise.
        UniqueRegKey marker;
        DWORD disposition = 0;
        if (::RegCreateKeyExW(service.get(), kRunMarkerName, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                              marker.put(), &disposition) == ERROR_SUCCESS) {
            recovered = disposition == REG_OPENED_EXISTING_KEY;
        }
    }
    ReportToEventLog(ServiceStartedEvent(kProductVersion));
    if (recovered) {
        ReportToEventLog(ServiceRecoveredEvent(kProductVersion));
    }
}

void ReportServiceStopped(StopCause cause)
{
    std::vector<HeldBackEvents> ended;
    {
        Limiter& limiter = TheLimiter();
        std::lock_guard<std::mutex> guard(limiter.lock);
        limiter.limiter.Flush(::GetTickCount64(), &ended);
    }
    WriteHeldBack(ended);
    ReportToEventLog(ServiceStoppedEvent(kProductVersion, cause));
    EndServiceRun();
}

void EndServiceRun()
{
    UniqueRegKey service;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_ENUMERATE_SUB_KEYS | DELETE, service.put()) ==
        ERROR_SUCCESS) {
        ::RegDeleteKeyW(service.get(), kRunMarkerName);
    }
}

void ReportPanicEntry(const char* message)
{
    if (message == nullptr || message[0] == '\0') {
        return;
    }
    ReportToEventLog(PanicEntryEvent(FromAnsi(message)));
}
