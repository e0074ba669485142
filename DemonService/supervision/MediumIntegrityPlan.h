#pragma once

// How a program is started at the interactive user's ordinary integrity level: the choice only, no I/O.

#include <optional>
#include <string>

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

// What is known of the token borrowed from the shell's window owner, and of the caller.
struct ShellTokenFacts {
    std::optional<unsigned long> shellSession;    // the token's session
    std::optional<unsigned long> callerSession;   // the session of the process that borrows it
    std::optional<unsigned long> integrityRid;    // the token's mandatory label
};

enum class ShellTokenVerdict {
    Usable,            // the user's own token in the caller's session, at medium integrity
    SessionUnknown,    // a session could not be read
    OtherSession,      // the shell runs in another session than the caller (another user's desktop)
    IntegrityUnknown,  // the token's integrity level could not be read
    NotMedium,         // the shell runs above medium (an elevated shell) or below it
};

// The borrowed token starts the program only when the shell runs in the caller's own session and at
// medium integrity, exactly: a shell of another session is another user's, and an elevated one would
// start the program with an administrator's rights. Fails closed on what could not be read.
ShellTokenVerdict JudgeShellToken(const ShellTokenFacts& facts);

// The one log line of a refused token ("CreateProcessMediumIL shell token refused: ..."); empty for Usable.
std::string ShellTokenRefusalLine(ShellTokenVerdict verdict, const ShellTokenFacts& facts);
