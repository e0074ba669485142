#include "link/CommandTable.h"

#include <cstring>

#include "base/DecimalText.h"

namespace {

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool Equals(const char* text, const char* word) { return std::strcmp(text, word) == 0; }

} // namespace

PipeCommand MatchPipeCommand(const char* message)
{
    if (message == nullptr) {
        return PipeCommand::None;
    }
    if (StartsWith(message, "c:")) {
        return PipeCommand::CrashNotice;
    }
    if (StartsWith(message, "app_exit:")) {
        return PipeCommand::ExitNotice;
    }
    if (Equals(message, "stop_for_update")) {
        return PipeCommand::StopForUpdate;
    }
    if (Equals(message, "hibernate")) {
        return PipeCommand::Hibernate;
    }
    if (StartsWith(message, "OpenFireWall") || (message[0] == '"' && StartsWith(message + 1, "OpenFireWall"))) {
        return PipeCommand::OpenFirewall;
    }
    if (Equals(message, "CloseFireWall")) {
        return PipeCommand::CloseFirewall;
    }
    if (Equals(message, "InstallCameraDriver")) {
        return PipeCommand::InstallCameraDriver;
    }
    if (Equals(message, "InstallBrisaDriveDriver")) {
        return PipeCommand::InstallBrisaDriveDriver;
    }
    if (Equals(message, "InstallScreenShareDriver")) {
        return PipeCommand::InstallScreenShareDriver;
    }
    return PipeCommand::None;
}

int ExitNoticeProcessId(const char* message)
{
    if (message == nullptr) {
        return 0;
    }
    const char* colon = std::strchr(message, ':');
    return colon != nullptr ? ParseDecimalInt(colon + 1) : 0;
}

bool FirewallRequestRestricted(const char* message)
{
    return message != nullptr && std::strstr(message, ":1") != nullptr;
}

std::string FirewallRequestJson(const char* message)
{
    return std::string("{") + (message != nullptr ? message : "") + "}";
}

bool IsQuotedRequest(const char* message)
{
    return message != nullptr && message[0] == '"';
}
