#pragma once

// What the driver installers are started with: the file that is checked and started, the program text
// given to the shell and the argument text, and the log line of each start. Values only, no I/O.
//
// Every builder refuses (nullopt) rather than cut or break up a path: a path that cannot be quoted whole,
// or one that does not fit its fixed buffer, would have the shell start another program than the one
// whose signature was checked.

#include <cstddef>
#include <optional>
#include <string>

// The hardware identifier of the virtual camera, for devcon's remove and install steps.
constexpr wchar_t kCameraHardwareId[] = L"corvanecamera";
constexpr wchar_t kCameraRemoveArguments[] = L"remove corvanecamera";
// The drive bridge's install switch, from the pipe command and from the command line alike.
constexpr wchar_t kDiskBridgeArguments[] = L"/i d";
constexpr wchar_t kDiskBridgeName[] = L"CvDiskBridge.exe";
// The display driver installer and its folder, below the service's folder.
constexpr wchar_t kScreenShareFolder[] = L"drivers\\screenshare\\";
constexpr wchar_t kScreenShareInstallerName[] = L"DisplayDriverSetup64.exe";
constexpr wchar_t kScreenShareUninstallSwitch[] = L"-uninstall_SS,";
constexpr wchar_t kScreenShareInstallSwitch[] = L"-install_SS,";

// The service folder's buffer (GetOwnDirectory), terminator included.
constexpr std::size_t kServiceFolderChars = 260;
// The buffer of the drive bridge path that the command-line switch starts, terminator included.
constexpr std::size_t kCloudyDriverPathChars = 512;
// The buffer of one start's log line: a longer line is cut to 255 bytes.
constexpr std::size_t kDriverLogLineSize = 256;

struct InstallerStart {
    std::wstring path;      // the file that is checked, held and started
    std::wstring program;   // that file as the shell is given it: quoted, or (command line) not
    std::wstring arguments; // the argument text, exactly
};

// devcon's two steps: "remove corvanecamera", then "install", the quoted INF path and the identifier,
// one blank between each. nullopt for an empty path or one holding a double quote (devcon's or the
// INF's: a quote inside would end the quoted text early).
std::optional<InstallerStart> CameraRemoveStart(const std::wstring& devconPath);
std::optional<InstallerStart> CameraInstallStart(const std::wstring& devconPath, const std::wstring& infPath);

// The install folder's drive bridge, quoted, with "/i d". nullopt as for the camera.
std::optional<InstallerStart> DiskBridgeStart(const std::wstring& diskBridgePath);

// The drive bridge beside the service, for the command-line switch: the own image path's folder (with
// its backslash) and "CvDiskBridge.exe", unquoted, with "/i d". nullopt when the image path has no
// backslash, when it fills its buffer (it may have been cut, and its folder would be another one), or
// when the drive bridge path does not fit kCloudyDriverPathChars.
std::optional<InstallerStart> CloudyDriverStart(const std::wstring& ownImagePath);

// The argument text of a screen-share run: the switch, then the service folder and the installer's
// folder, no quotes and no blank (the installer reads the folder up to the end of its command line).
std::wstring ScreenShareArguments(const std::wstring& serviceFolder, bool install);

// The display driver installer below the service folder, quoted, with the given argument text. nullopt
// when the folder is empty, does not end with a backslash (a relative installer path would be looked up
// in whatever the current folder is) or holds a double quote.
std::optional<InstallerStart> ScreenShareStart(const std::wstring& serviceFolder, const std::wstring& arguments);

// The folder of a full image name, up to and including its last backslash; the whole name when it has
// none.
std::wstring OwnDirectoryOf(const std::wstring& imageName);

// "<step> <program> <arguments> ret: <result>", cut to kDriverLogLineSize - 1 bytes. program and
// arguments are the ANSI texts of the start.
std::string DriverStartLogLine(const char* step, const std::string& program, const std::string& arguments,
                               int result);
