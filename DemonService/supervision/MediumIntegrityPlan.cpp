#include "supervision/MediumIntegrityPlan.h"

MediumLaunchRoute ChooseMediumLaunchRoute(bool platformHasIntegrityLevels, unsigned long callerIntegrityRid)
{
    if (!platformHasIntegrityLevels || callerIntegrityRid <= kMediumIntegrityRid) {
        return MediumLaunchRoute::Direct;
    }
    return MediumLaunchRoute::ShellToken;
}
