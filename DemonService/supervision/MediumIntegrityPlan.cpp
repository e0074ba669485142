#include "supervision/MediumIntegrityPlan.h"

#include <cstdio>

MediumLaunchRoute ChooseMediumLaunchRoute(bool platformHasIntegrityLevels, unsigned long callerIntegrityRid)
{
    if (!platformHasIntegrityLevels || callerIntegrityRid <= kMediumIntegrityRid) {
        return MediumLaunchRoute::Direct;
    }
    return MediumLaunchRoute::ShellToken;
}

ShellTokenVerdict JudgeShellToken(const ShellTokenFacts& facts)
{
    if (!facts.shellSession || !facts.callerSession) {
        return ShellTokenVerdict::SessionUnknown;
    }
    if (*facts.shellSession != *facts.callerSession) {
        return ShellTokenVerdict::OtherSession;
    }
    if (!facts.integrityRid) {
        return ShellTokenVerdict::IntegrityUnknown;
    }
    return *facts.integrityRid == kMediumIntegrityRid ? ShellTokenVerdict::Usable : ShellTokenVerdict::NotMedium;
}

std::string ShellTokenRefusalLine(ShellTokenVerdict verdict, const ShellTokenFacts& facts)
{
    char why[128] = {};
    switch (verdict) {
    case ShellTokenVerdict::Usable:
        return std::string();
    case ShellTokenVerdict::SessionUnknown:
        std::snprintf(why, sizeof(why), "its session or the caller's cannot be read");
        break;
    case ShellTokenVerdict::OtherSession:
        std::snprintf(why, sizeof(why), "it runs in session %lu, the caller in session %lu", *facts.shellSession,
                      *facts.callerSession);
        break;
    case ShellTokenVerdict::IntegrityUnknown:
        std::snprintf(why, sizeof(why), "its integrity level cannot be read");
        break;
    case ShellTokenVerdict::NotMedium:
        std::snprintf(why, sizeof(why), "its integrity level 0x%lX is not medium", *facts.integrityRid);
        break;
    }
    return std::string("CreateProcessMediumIL shell token refused: ") + why;
}
