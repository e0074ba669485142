#pragma once

// Installing the drivers that the application relies on (virtual camera, cloud-drive bridge, virtual
// display) by starting the installers that ship beside it, hidden, with fixed command lines.
//
// Every installer is started only after the validation library has accepted it, and the file stays held
// (readable, not writable, not deletable) from before the check until the start call has returned, so
// the program started is the file that was checked. Before that, the installer's own folder (and for
// devcon the INF's folder, for the display installer the service folder) must be closed to everyone
// but the system's accounts, up to its root (trust/UserWritableFolderRule.h); a folder that is not logs
// one line naming it and the SID that opened it, and counts as a failed check. Nothing waits for an installer, reads its exit code
// or reports back to the application: each start attempt leaves one log line (see each function).
// None of them throws. The pipe commands run on the client thread; InstallCloudyDriver in the
// command-line process.

#include <cstddef>

// "InstallCameraDriver": checks devcon.exe of the install folder once, then starts it with
// "remove corvanecamera" and, right after, with the install arguments; logs each start with the tag
// "InstallCameraDriver". A failed check logs "InstallCameraDriver ValidateAssembly result is fail".
void InstallCameraDriver();

// "InstallBrisaDriveDriver": checks and starts the install folder's CvDiskBridge.exe, quoted, with
// "/i d"; logs the start with the tag "InstallBrisaDriveDriver", or
// "InstallBrisaDriveDriver ValidateAssembly result is fail".
void InstallBrisaDriveDriver();

// "InstallScreenShareDriver": logs " start...", runs InstallVirtualDriverBase with the uninstall and
// then the install argument text (each checked and started on its own), logs " end..." in every case;
// tag "InstallSSDriver".
void InstallSSDriver();

// The command-line switch: checks and starts CvDiskBridge.exe of the service's own folder, unquoted,
// with "/i d". Silent when the file is missing and when it is started; a failed check logs
// "InstallCloudyDriver ValidateAssembly fail".
void InstallCloudyDriver();

// Checks the service folder's drivers\screenshare\DisplayDriverSetup64.exe and starts it, quoted, with
// the argument text through ShellExecuteExW; logs the start with the tag "InstallVirtualDriverBase".
// Returns whether the start call succeeded; false (after
// "InstallVirtualDriverBase ValidateAssembly result is fail") when the check failed or the service
// folder is unknown.
bool InstallVirtualDriverBase(const wchar_t* arguments);

// Fills buffer (kServiceFolderChars wide characters) with the service's folder, trailing backslash
// included, and returns true. When the own image name cannot be read (a longer name does not fit the
// buffer) or is empty, the buffer is left as it was and the result is false.
bool GetOwnDirectory(wchar_t* buffer);
