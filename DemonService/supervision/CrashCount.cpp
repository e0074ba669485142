#include "supervision/CrashCount.h"

#include "base/SettingsFile.h"
#include "base/SharedState.h"
#include "supervision/CrashCountPlan.h"

namespace {

constexpr wchar_t kCrashSection[] = L"SC";
constexpr wchar_t kCrashKey[] = L"crash";

} // namespace

bool ReadCrashCount(int* count)
{
    SharedState* service = SharedState::Get();
    if (service == nullptr) {
        return false;
    }
    return ReadCrashCountAt(service->IniPath(), count);
}

bool ReadCrashCountAt(const std::wstring& settingsPath, int* count)
{
    const std::wstring path = CrashCounterPathFor(settingsPath);
    return ReadIniInt(path.c_str(), kCrashSection, kCrashKey, count);
}

bool WriteCrashCount(unsigned count)
{
    SharedState* service = SharedState::Get();
    if (service == nullptr) {
        return false;
    }
    // The text is the count's 32 bits read as a signed number, as "%d" gives it.
    return WriteIniNumber(CrashCounterPathFor(service->IniPath()), kCrashSection, kCrashKey,
                          static_cast<int>(count)) != FALSE;
}
