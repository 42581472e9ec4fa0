// Acts on real windows as a user would, from another thread or process. An action is
// false when a user could not have done it either (the control missing, hidden or
// disabled, a modal window up).
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ui_driver {

inline constexpr int kWaitMs = 10000;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs);
// A visible top-level window of that class, in that process (0: any).
HWND WaitForWindow(const wchar_t* className, DWORD processId, int timeoutMs = kWaitMs);
// The hidden tray window of the agent of that process (0: any), once it shows.
HWND TrayOf(DWORD processId, int timeoutMs = 30000);
// The visible message box owned by owner (nullptr: any).
HWND WaitForMessageBox(HWND owner, int timeoutMs = kWaitMs);
// True once that window's thread has handled what was sent before.
bool Settled(HWND window);

std::wstring TextOf(HWND window);  // any window's, another process's control too
std::wstring MessageBoxText(HWND box);
// The agent's tray tip as the shell holds it, or empty when the shell has none.
std::wstring TrayTip();
HWND FocusedControl(HWND window);  // the control of window with its thread's focus

// Replaces an edit box's text, one WM_CHAR per unit; '\r' is Enter.
[[nodiscard]] bool TypeInto(HWND edit, std::wstring_view text);
[[nodiscard]] bool Press(HWND window, int buttonId);
[[nodiscard]] bool CloseWith(HWND window, int button);  // presses it, waits for window to go
void ExpectMessageBox(HWND owner, std::wstring_view text, int timeoutMs = kWaitMs);
// Types into a password dialog's boxes; with submit, presses OK.
[[nodiscard]] bool FillPassword(HWND dialog, std::wstring_view password, std::wstring_view confirm,
                                bool submit);
// Real keystrokes (SendInput), window's root brought to the foreground. VK_MENU first
// holds Alt down for the others.
[[nodiscard]] bool Keys(HWND window, std::initializer_list<WORD> keys);

// Runs ui() (a call that blocks in a modal loop) while script() drives its windows from
// another thread. A ui call still running 60 s after the script (at once after a
// failure) gets a WM_QUIT, and the test fails.
void RunWithDriver(const std::function<void()>& ui, const std::function<void()>& script);

}  // namespace ui_driver
