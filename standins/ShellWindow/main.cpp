// ShellWindow.exe: our stand-in for the process that owns the shell's desktop window. Wine has no such
// window of its own (GetShellWindow gives null); this program makes one, so that a program that borrows
// the shell's token finds a process to borrow it from.
//
// It creates a message-only window, makes it the shell window (SetShellWindow) and pumps messages until
// the window is closed (WM_CLOSE, posted by the test harness) or the process is ended. Exit codes: 0 after
// a close, 2 when the window cannot be created, 3 when another window is the shell window already.

#include <windows.h>

extern "C" __declspec(dllimport) BOOL WINAPI SetShellWindow(HWND);

namespace {

constexpr int kExitClosed = 0;
constexpr int kExitNoWindow = 2;
constexpr int kExitShellTaken = 3;
constexpr wchar_t kWindowClass[] = L"OrvelStandInShell";

LRESULT CALLBACK ShellWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_DESTROY) {
        ::PostQuitMessage(kExitClosed);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ShellWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (::RegisterClassW(&windowClass) == 0) {
        return kExitNoWindow;
    }
    const HWND window = ::CreateWindowExW(0, kWindowClass, L"Orvel stand-in shell", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, instance, nullptr);
    if (window == nullptr) {
        return kExitNoWindow;
    }
    if (!::SetShellWindow(window)) {
        ::DestroyWindow(window);
        return kExitShellTaken;
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
