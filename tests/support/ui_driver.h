// Acts on real windows as a user would, from another thread of the test program
// or from another process: the windows under test carry no test hook. Actions
// return false, with the reason in DriverError(), when a user could not have
// done them either (hidden or disabled control, disabled window); their effect
// comes later, as a user's does.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace ui_driver {

// Without a window manager, Wine stalls about two seconds when it hides a
// captioned window; the waits allow for it.
inline constexpr int kWaitMs = 10000;

std::string DriverError();
// A visible top-level window of that class, in that process (0: any).
HWND WaitForWindow(const wchar_t* className, DWORD processId, int timeoutMs = kWaitMs);
// The visible message box owned by owner.
HWND WaitForMessageBox(HWND owner, int timeoutMs = kWaitMs);
bool WaitGone(HWND window, int timeoutMs = kWaitMs);
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs);

HWND Control(HWND window, int id);
// The text of any window, a control of another process too.
std::wstring TextOf(HWND window);
std::wstring MessageBoxText(HWND box);
// The control of window that has the keyboard focus in its thread, or nullptr.
HWND FocusedControl(HWND window);

// Replaces an edit box's text, one WM_CHAR per unit; '\r' is Enter.
[[nodiscard]] bool TypeInto(HWND edit, std::wstring_view text);
[[nodiscard]] bool Press(HWND window, int buttonId);
[[nodiscard]] bool DismissMessageBox(HWND box);
// Expects a message box owned by owner, with that text, and dismisses it.
void ExpectMessageBox(HWND owner, std::wstring_view text);
[[nodiscard]] bool CloseBox(HWND window);
// Real keystrokes (SendInput) to window, its root brought to the foreground:
// they go through its message loop and the dialog manager. VK_MENU holds Alt
// down for the keys after it.
[[nodiscard]] bool Keys(HWND window, std::initializer_list<WORD> keys);

void RunDriven(const std::function<void()>& ui, const std::function<void()>& script, int timeoutMs);

// Runs ui() on this thread (a call that blocks in a modal loop) while script()
// drives its windows from another thread, and returns what ui() returned. A ui
// call still running when the script is done (at once after a failure, else
// after timeoutMs) gets a WM_QUIT, and the test fails.
template <class Ui, class Script>
auto RunWithDriver(Ui&& ui, Script&& script, int timeoutMs = 60000) {
    if constexpr (std::is_void_v<std::invoke_result_t<Ui&>>) {
        RunDriven(ui, script, timeoutMs);
    } else {
        std::invoke_result_t<Ui&> result{};
        RunDriven([&] { result = ui(); }, script, timeoutMs);
        return result;
    }
}

}  // namespace ui_driver
