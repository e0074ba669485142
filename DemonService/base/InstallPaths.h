#pragma once

// Where the application and its sibling files are, from the installer's "path" value or, failing
// that, from the service's own folder.

#include <optional>
#include <string>

struct InstallPaths {
    std::wstring appPath;
    std::wstring resourceDllPath;
    std::wstring lockerPluginPath;
    std::wstring devconPath;
    std::wstring cameraInfPath;
    std::wstring diskBridgePath;
};

// The installer's key under HKEY_LOCAL_MACHINE ("path", "ResourceFile", and the remembered "AppData").
constexpr wchar_t kInstallKey[] = L"Software\\Halvex\\Corvane";

// File names of the application's siblings, relative to the install folder.
constexpr wchar_t kLockerPluginRelative[] = L"lockerPlugin\\LockerPlugin.exe";
constexpr wchar_t kDevconRelative[] = L"devcon.exe";
constexpr wchar_t kCameraInfRelative[] = L"drivers\\camera\\CvCamera.inf";
constexpr wchar_t kDiskBridgeRelative[] = L"CvDiskBridge.exe";
constexpr wchar_t kFallbackAppName[] = L"Orvel.exe";
constexpr wchar_t kResourceLibraryName[] = L"ResText2052.dll";

// The folder part of a path, up to and including its last backslash; empty when it has none.
std::wstring FolderWithBackslash(const std::wstring& path);

// Resolves the install paths. pathValue and resourceFileValue are the registry values that could be
// read (nullopt when the key or the value is missing); ownImagePath is the service's own executable.
// With a "path" that holds a backslash, the install folder is its folder. Otherwise the service's
// folder stands in: the application is Orvel.exe there and the resource library ResText2052.dll
// there, unless the own path has no backslash either, in which case what was read stays.
InstallPaths ResolveInstallPaths(const std::optional<std::wstring>& pathValue,
                                 const std::optional<std::wstring>& resourceFileValue,
                                 const std::wstring& ownImagePath);

// The data folder and settings file for a user's roaming application-data folder, whose trailing
// backslashes do not count ("C:\Users\me\AppData\Roaming\" gives the same data folder as without
// them). An empty folder gives empty paths: there is no settings file without a known user folder.
std::wstring DataDirFor(const std::wstring& roamingAppData);
std::wstring IniPathFor(const std::wstring& dataDir);
