#pragma once

// Supervision of the running application, recognised by its exact image path: is it running, stop it,
// restart it in the user's session.

#include <string>

// Whether a process whose image is appPath runs; false when that cannot be found out.
bool IsApplicationRunning(const std::wstring& appPath);
// Terminates process pid when it is the application in the console session (checked and terminated
// through one handle); otherwise, or for pid 0, every process whose image is appPath in the console
// session. Instances in other sessions (another user's) are left alone, one log line each.
void KillApplication(const std::wstring& appPath, int pid);
// Kills the application and starts it again in the console user's session, in background mode when
// forced or when the application asks for it ("HideToTray" in the settings file).
void RestartApplication(const std::wstring& appPath, bool forceBackground);
