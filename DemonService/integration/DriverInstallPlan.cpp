#include "integration/DriverInstallPlan.h"

#include "base/LogFormat.h"
#include "base/OwnImagePath.h"

namespace {

bool CanBeQuoted(const std::wstring& path)
{
    return !path.empty() && path.find(L'"') == std::wstring::npos;
}

std::wstring Quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

std::optional<InstallerStart> QuotedStart(const std::wstring& path, std::wstring arguments)
{
    if (!CanBeQuoted(path)) {
        return std::nullopt;
    }
    return InstallerStart{path, Quoted(path), std::move(arguments)};
}

} // namespace

std::optional<InstallerStart> CameraRemoveStart(const std::wstring& devconPath)
{
    return QuotedStart(devconPath, kCameraRemoveArguments);
}

std::optional<InstallerStart> CameraInstallStart(const std::wstring& devconPath, const std::wstring& infPath)
{
    if (!CanBeQuoted(infPath)) {
        return std::nullopt;
    }
    return QuotedStart(devconPath, L"install " + Quoted(infPath) + L" " + kCameraHardwareId);
}

std::optional<InstallerStart> DiskBridgeStart(const std::wstring& diskBridgePath)
{
    return QuotedStart(diskBridgePath, kDiskBridgeArguments);
}

std::optional<InstallerStart> CloudyDriverStart(const std::wstring& ownImagePath)
{
    // GetOwnImagePath cuts a longer name to fill its buffer; the folder of a cut name is not ours.
    if (ownImagePath.size() >= kOwnImagePathChars - 1) {
        return std::nullopt;
    }
    const std::size_t lastBackslash = ownImagePath.rfind(L'\\');
    if (lastBackslash == std::wstring::npos) {
        return std::nullopt;
    }
    std::wstring path = ownImagePath.substr(0, lastBackslash + 1) + kDiskBridgeName;
    if (path.size() >= kCloudyDriverPathChars) {
        return std::nullopt;
    }
    // Given to the shell as it is: the shell takes the whole text as the file to open.
    std::wstring program = path;
    return InstallerStart{std::move(path), std::move(program), kDiskBridgeArguments};
}

std::wstring ScreenShareArguments(const std::wstring& serviceFolder, bool install)
{
    return (install ? kScreenShareInstallSwitch : kScreenShareUninstallSwitch) + serviceFolder + kScreenShareFolder;
}

std::optional<InstallerStart> ScreenShareStart(const std::wstring& serviceFolder, const std::wstring& arguments)
{
    if (serviceFolder.empty() || serviceFolder.back() != L'\\') {
        return std::nullopt;
    }
    return QuotedStart(serviceFolder + kScreenShareFolder + kScreenShareInstallerName, arguments);
}

std::wstring OwnDirectoryOf(const std::wstring& imageName)
{
    const std::size_t lastBackslash = imageName.rfind(L'\\');
    return lastBackslash == std::wstring::npos ? imageName : imageName.substr(0, lastBackslash + 1);
}

std::string DriverStartLogLine(const char* step, const std::string& program, const std::string& arguments,
                               int result)
{
    char line[kDriverLogLineSize] = {};
    FormatBounded(line, sizeof(line), "%s %s %s ret: %d", step != nullptr ? step : "", program.c_str(),
                  arguments.c_str(), result);
    return line;
}
