// LockerPlugin.exe: our stand-in for the application's plug-in executable. The service only looks for
// it and names it in firewall rules; it is never started, so it does nothing.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
