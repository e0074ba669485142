#include "base/InstallPaths.h"

#include "base/UserFolderRule.h"

namespace {

void SetSiblings(InstallPaths& paths, const std::wstring& folder)
{
    paths.lockerPluginPath = folder + kLockerPluginRelative;
    paths.devconPath = folder + kDevconRelative;
    paths.cameraInfPath = folder + kCameraInfRelative;
    paths.diskBridgePath = folder + kDiskBridgeRelative;
}

} // namespace

std::wstring FolderWithBackslash(const std::wstring& path)
{
    const std::size_t lastBackslash = path.rfind(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(0, lastBackslash + 1);
}

InstallPaths ResolveInstallPaths(const std::optional<std::wstring>& pathValue,
                                 const std::optional<std::wstring>& resourceFileValue,
                                 const std::wstring& ownImagePath)
{
    InstallPaths paths;
    if (resourceFileValue) {
        paths.resourceDllPath = *resourceFileValue;
    }
    if (pathValue) {
        paths.appPath = *pathValue;
        const std::wstring installFolder = FolderWithBackslash(*pathValue);
        if (!installFolder.empty()) {
            SetSiblings(paths, installFolder);
            return paths;
        }
    }
    const std::wstring serviceFolder = FolderWithBackslash(ownImagePath);
    if (!serviceFolder.empty()) {
        paths.appPath = serviceFolder + kFallbackAppName;
        paths.resourceDllPath = serviceFolder + kResourceLibraryName;
        SetSiblings(paths, serviceFolder);
    }
    return paths;
}

std::wstring DataDirFor(const std::wstring& roamingAppData)
{
    if (roamingAppData.empty()) {
        return std::wstring();
    }
    const std::wstring folder = WithoutTrailingBackslashes(roamingAppData);
    return folder + (folder.back() == L'\\' ? L"" : L"\\") + L"Corvane";
}

std::wstring IniPathFor(const std::wstring& dataDir)
{
    return dataDir.empty() ? std::wstring() : dataDir + L"\\BrisaRDP.ini";
}
