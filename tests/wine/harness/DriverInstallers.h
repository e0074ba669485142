#pragma once

// The driver installers' stand-in, as the tests see it.

#include <string>

#include "StandInApp.h"

namespace harness {

// The installers the sandbox puts where the service looks: devcon.exe and CvDiskBridge.exe in the install
// folder, drivers\screenshare\DisplayDriverSetup64.exe below the service's folder (the same folder).
// They share one journal (see standins/DriverInstaller/README.md); starts carry "exe", "cmdline", "cwd"
// and "user".
std::wstring InstallerJournalPath();
StandInApp InstalledInstaller(const std::wstring& relativePath);
// The argument text of a start record: its command line after the program (quoted or not) and one blank.
std::wstring StartArguments(const JournalRecord& start);

} // namespace harness
