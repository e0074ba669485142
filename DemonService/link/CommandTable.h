#pragma once

// The application's pipe commands: which one a message is, and the values some of them carry.
// Matching is byte-wise and case-sensitive; the first row that matches wins.

#include <string>

enum class PipeCommand {
    None,                      // logged and otherwise ignored
    CrashNotice,               // begins with "c:"
    ExitNotice,                // begins with "app_exit:"
    StopForUpdate,             // equals "stop_for_update"
    Hibernate,                 // equals "hibernate"
    OpenFirewall,              // begins with "OpenFireWall" or with a double quote and "OpenFireWall"
    CloseFirewall,             // equals "CloseFireWall"
    InstallCameraDriver,       // equals "InstallCameraDriver"
    InstallBrisaDriveDriver,   // equals "InstallBrisaDriveDriver"
    InstallScreenShareDriver,  // equals "InstallScreenShareDriver"
};

// message is the text up to its first zero byte; null matches nothing.
PipeCommand MatchPipeCommand(const char* message);

// The process id of an exit notice: the text after the first ':' read as a signed decimal number
// (blanks skipped, digits up to the first other character, clamped to 32 bits; none give 0).
int ExitNoticeProcessId(const char* message);

// Whether a firewall request asks for the restricted rule set: ":1" anywhere in the raw text.
bool FirewallRequestRestricted(const char* message);

// A quoted firewall request is the members of a JSON object without its braces: the object's text.
std::string FirewallRequestJson(const char* message);

// Whether a message begins with a double quote (a JSON-form firewall request).
bool IsQuotedRequest(const char* message);
