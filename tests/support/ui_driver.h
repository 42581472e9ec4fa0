// Acts on real windows the way a user would, for tests: finds windows, reads
// their texts, types, presses buttons and closes windows. It works from another
// thread of the test program (while the window's own thread sits in its modal
// loop or in MessageBoxW) and from another process, because it uses only what
// any program may do to another's windows: the windows under test carry no
// test hook.
//
// Actions return false and leave the reason in DriverError() when a user could
// not have done them either (hidden or disabled control, disabled window).
// Input is asynchronous like a user's: after Press or CloseBox, wait for the
// effect (WaitGone, WaitForMessageBox, WaitUntil).
//
// Under Wine without a window manager, hiding a window with a caption (a
// message box ending, EndDialog) stalls its thread for about two seconds while
// the X11 driver waits for a window manager that never answers; timeouts here
// allow for it.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace ui_driver {

inline constexpr int kWaitMs = 10000;

// Why the last action or wait of this thread failed.
std::string DriverError();

// A visible top-level window of that class (and caption, and process, when given).
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD processId,
                   int timeoutMs = kWaitMs);
// The visible message box (MessageBoxW) owned by owner.
HWND WaitForMessageBox(HWND owner, int timeoutMs = kWaitMs);
// True once the window is destroyed.
bool WaitGone(HWND window, int timeoutMs = kWaitMs);
// Polls condition until it holds; false on timeout.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs);

HWND Control(HWND window, int id);
// The text of any window, also of a control in another process.
std::wstring TextOf(HWND window);
std::wstring MessageBoxText(HWND box);
// The control that has the keyboard focus in window's thread, if it is window
// itself or one of its descendants; otherwise nullptr.
HWND FocusedControl(HWND window);

// Replaces the text of the edit box with text, one character at a time; '\r' is
// the Enter key and '\t' the Tab key, as a multi-line box receives them.
[[nodiscard]] bool TypeInto(HWND edit, std::wstring_view text);
// Clicks the button with that id.
[[nodiscard]] bool Press(HWND window, int buttonId);
// Presses the message box's OK button.
[[nodiscard]] bool DismissMessageBox(HWND box);
// Clicks the close box of the window's caption.
[[nodiscard]] bool CloseBox(HWND window);
// Activates the window's root as a click on its caption would, and waits until
// it has held the foreground for a moment.
[[nodiscard]] bool BringToFront(HWND window);
// Alt+F4 on the real keyboard input path. False, without typing anything, if
// the window cannot be brought to the foreground: the keys would reach another.
[[nodiscard]] bool AltF4(HWND window);

namespace detail {
void RunWithDriver(const std::function<void()>& ui, const std::function<void()>& script,
                   int timeoutMs, const std::source_location& where);
}  // namespace detail

// Runs ui() on this thread (a call that blocks in a modal loop or MessageBoxW)
// while script() drives its windows from a second thread; returns what ui()
// returned. GoogleTest failures inside the script are reported again on this
// thread, at the script's own file and line, once both are done. If the script
// fails, or both are not done within timeoutMs, this thread's modal loops are
// told to quit (WM_QUIT, then WM_CLOSE to the windows the ui call made), the
// waits of the script are cut short, and the run is reported as a failure here
// instead of hanging.
template <class Ui, class Script>
auto RunWithDriver(Ui&& ui, Script&& script, int timeoutMs,
                   std::source_location where = std::source_location::current()) {
    using Result = std::invoke_result_t<Ui&>;
    static_assert(!std::is_reference_v<Result>, "return a value from the ui call");
    auto runScript = [&script] { script(); };
    if constexpr (std::is_void_v<Result>) {
        detail::RunWithDriver([&ui] { ui(); }, runScript, timeoutMs, where);
    } else {
        std::optional<Result> result;
        detail::RunWithDriver([&ui, &result] { result.emplace(ui()); }, runScript, timeoutMs,
                              where);
        return std::move(*result);
    }
}

}  // namespace ui_driver
