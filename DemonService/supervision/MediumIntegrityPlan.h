#pragma once

// How a program is started at the interactive user's ordinary integrity level: the choice only, no I/O.

// The mandatory-label relative id of medium integrity (SECURITY_MANDATORY_MEDIUM_RID).
constexpr unsigned long kMediumIntegrityRid = 0x2000;

enum class MediumLaunchRoute {
    Direct,       // the caller's own rights are no more than medium: start it as the caller
    ShellToken,   // the caller is above medium: borrow the token of the shell's desktop window
};

// platformHasIntegrityLevels: the system knows integrity levels at all (Vista and later). Without them
// there is nothing to step down from. Otherwise a level above medium (high 0x3000, system 0x4000) takes
// the shell's token, and medium or below starts directly.
MediumLaunchRoute ChooseMediumLaunchRoute(bool platformHasIntegrityLevels, unsigned long callerIntegrityRid);
