// The test driver of real windows; see ui_driver.h. What Wine 8 under Xvfb
// (no window manager) does with each technique is noted where it is used.
#include "tests/support/ui_driver.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>
#include <vector>

#include "common/vb_handle.h"

namespace ui_driver {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;
constexpr DWORD kForegroundWaitMs = 3000;
// Under Wine, a window that has just been shown by another process can take the
// foreground back once, shortly after it was taken from it: its X focus events
// arrive late. The foreground counts as held once it stayed this long.
constexpr ULONGLONG kForegroundSettleMs = 300;
constexpr ULONGLONG kForegroundRetryMs = 250;
// After the script failed or timed out: how often the ui thread is told again
// to quit, and how long it may take before the test program gives up.
constexpr DWORD kEscalationRoundMs = 1000;
constexpr int kEscalationRounds = 15;
constexpr DWORD kCancelGraceMs = 15000;

thread_local std::string t_error;
// Set on a RunWithDriver script thread: its waits end early once this is true.
thread_local const std::atomic<bool>* t_cancel = nullptr;

bool Fail(std::string what) {
    t_error = std::move(what);
    return false;
}

HWND FailNull(std::string what) {
    t_error = std::move(what);
    return nullptr;
}

bool Cancelled() {
    return t_cancel != nullptr && t_cancel->load();
}

template <class Condition>
bool Poll(Condition&& condition, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (Cancelled()) return Fail("cancelled: the driver run is over");
        if (GetTickCount64() >= end) return Fail("timed out");
        Sleep(kPollMs);
    }
}

std::string Hex(const void* handle) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p", handle);
    return buffer;
}

bool ClassIs(HWND window, const wchar_t* className) {
    wchar_t buffer[256];
    int length = GetClassNameW(window, buffer, 256);
    // Window class names compare without case, as RegisterClass does.
    return length > 0 && CompareStringOrdinal(buffer, length, className, -1, TRUE) == CSTR_EQUAL;
}

// Messages to another thread go through SendMessageTimeoutW so that a hung or
// busy window fails the test instead of hanging it. The system copies the
// buffers of WM_GETTEXT and friends across processes.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &answer))
        return false;
    if (result != nullptr) *result = answer;
    return true;
}

// A user can only act on a control that is shown and enabled, in a window that
// is enabled: a modal window (a message box) disables its owner.
bool UserCanReach(HWND control, const char* what) {
    if (control == nullptr || !IsWindow(control))
        return Fail(std::string(what) + " does not exist");
    if (!IsWindowVisible(control)) return Fail(std::string(what) + " is not visible");
    if (!IsWindowEnabled(control)) return Fail(std::string(what) + " is disabled");
    HWND root = GetAncestor(control, GA_ROOT);
    if (!IsWindowEnabled(root))
        return Fail(std::string(what) + " is in a disabled window (a modal window is up)");
    return true;
}

struct WindowQuery {
    const wchar_t* className;
    const wchar_t* title;
    DWORD processId;
    HWND owner;
    bool messageBox;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto& query = *reinterpret_cast<WindowQuery*>(param);
    if (!IsWindowVisible(window) || !ClassIs(window, query.className)) return TRUE;
    if (query.processId != 0) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId != query.processId) return TRUE;
    }
    if (query.title != nullptr) {
        // InternalGetWindowText reads the caption without sending WM_GETTEXT, which
        // would wait on a window of this process whose thread is busy.
        wchar_t caption[512];
        int length = InternalGetWindowText(window, caption, 512);
        if (std::wstring_view(caption, length > 0 ? length : 0) != query.title) return TRUE;
    }
    if (query.messageBox) {
        if (GetWindow(window, GW_OWNER) != query.owner) return TRUE;
        // The message static (id 0xFFFF) tells a message box from other dialogs.
        if (GetDlgItem(window, 0xFFFF) == nullptr) return TRUE;
    }
    query.found = window;
    return FALSE;
}

HWND FindWindowMatching(WindowQuery query, int timeoutMs, const std::string& what) {
    bool found = Poll(
        [&query] {
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
            return query.found != nullptr;
        },
        timeoutMs);
    if (!found) return FailNull("no " + what + " appeared (" + t_error + ")");
    return query.found;
}

}  // namespace

std::string DriverError() {
    return t_error;
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD processId, int timeoutMs) {
    if (className == nullptr) return FailNull("no window class given");
    return FindWindowMatching({className, title, processId, nullptr, false, nullptr}, timeoutMs,
                              "window of that class");
}

// MessageBoxW makes a "#32770" dialog owned by the root of its owner argument;
// it is visible once WM_INITDIALOG has filled it in.
HWND WaitForMessageBox(HWND owner, int timeoutMs) {
    if (owner == nullptr) return FailNull("no owner given");
    return FindWindowMatching({L"#32770", nullptr, 0, owner, true, nullptr}, timeoutMs,
                              "message box owned by " + Hex(owner));
}

bool WaitGone(HWND window, int timeoutMs) {
    if (Poll([window] { return !IsWindow(window); }, timeoutMs)) return true;
    return Fail("window " + Hex(window) + " still exists (" + t_error + ")");
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return Poll(condition, timeoutMs);
}

HWND Control(HWND window, int id) {
    return GetDlgItem(window, id);
}

// GetWindowTextW would return nothing for a control of another process: it
// reads only captions there. WM_GETTEXT reaches the control itself. (Windows
// withholds the text of an ES_PASSWORD box from other processes; Wine does not.)
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (window == nullptr || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied))
        return {};
    text.resize(copied < length ? copied : length);
    return text;
}

// The message itself is the static with id 0xFFFF, on Windows as in Wine.
std::wstring MessageBoxText(HWND box) {
    return TextOf(GetDlgItem(box, 0xFFFF));
}

// GetGUIThreadInfo reads the focus of the window's thread, which GetFocus
// cannot do from another thread; it works across processes, under Wine too.
HWND FocusedControl(HWND window) {
    DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    if (threadId == 0) return FailNull("window " + Hex(window) + " does not exist");
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(threadId, &info)) return FailNull("GetGUIThreadInfo failed");
    HWND focus = info.hwndFocus;
    if (focus != nullptr && (focus == window || IsChild(window, focus))) return focus;
    return FailNull("the focus is elsewhere (" + Hex(focus) + ")");
}

// Each UTF-16 unit goes to the box as the WM_CHAR that TranslateMessage makes of
// a keystroke, so the box applies its own rules (text limit, ES_NUMBER) and a
// character outside the BMP arrives as its two surrogates, as from an IME.
// WM_SETTEXT would skip those rules; SendInput would need the box focused in
// the foreground window, which another process is not always allowed to
// arrange. WM_CHAR needs neither, and works the same across threads and
// processes (checked under Wine). It does not pass through the window's
// message loop, so IsDialogMessageW never sees these characters.
bool TypeInto(HWND edit, std::wstring_view text) {
    if (!UserCanReach(edit, "the edit box")) return false;
    // Printable characters, and Enter and Tab as a multi-line box takes them.
    for (wchar_t unit : text) {
        if ((unit < L' ' && unit != L'\r' && unit != L'\t') || unit == 0x7F)
            return Fail("TypeInto types printable characters, Enter and Tab only");
    }
    // Select everything first, as Ctrl+A would, so the typed text replaces it.
    if (!Send(edit, EM_SETSEL, 0, -1, nullptr))
        return Fail("the edit box did not answer EM_SETSEL");
    for (wchar_t unit : text) {
        if (!Send(edit, WM_CHAR, unit, 1, nullptr))
            return Fail("the edit box did not answer WM_CHAR");
    }
    return true;
}

// BM_CLICK makes the button run its own click (focus, capture, check-box toggle,
// BN_CLICKED to the parent), which a WM_COMMAND sent to the parent would skip.
// It is posted, as a click is: a click handler that opens a message box does
// not return until the box is dismissed, and a sent BM_CLICK would wait for it.
// Under Wine, BM_CLICK works posted or sent, across threads and processes, and
// whether or not the window is active. Windows documents that it may fail in an
// inactive dialog, hence the activation first, as a user's click would do.
bool Press(HWND window, int buttonId) {
    HWND button = GetDlgItem(window, buttonId);
    if (button == nullptr) return Fail("no control with id " + std::to_string(buttonId));
    if (!UserCanReach(button, "the button")) return false;
    HWND root = GetAncestor(button, GA_ROOT);
    if (GetForegroundWindow() != root) SetForegroundWindow(root);
    if (!PostMessageW(button, BM_CLICK, 0, 0)) return Fail("PostMessageW(BM_CLICK) failed");
    return true;
}

// Wine's MB_OK box has an IDOK button; when there is no IDOK button, its only
// button is pressed.
bool DismissMessageBox(HWND box) {
    if (box == nullptr || !IsWindow(box)) return Fail("the message box does not exist");
    HWND ok = GetDlgItem(box, IDOK);
    if (ok == nullptr || !IsWindowVisible(ok)) {
        std::vector<HWND> buttons;
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsWindowVisible(child) && ClassIs(child, L"Button")) buttons.push_back(child);
        }
        if (buttons.size() != 1) return Fail("the message box has no OK button");
        ok = buttons.front();
    }
    return Press(box, GetDlgCtrlID(ok));
}

// A click on the close box ends in DefWindowProc sending WM_SYSCOMMAND SC_CLOSE,
// which turns into WM_CLOSE. Posted, for the same reason as Press.
bool CloseBox(HWND window) {
    if (window == nullptr || !IsWindow(window)) return Fail("the window does not exist");
    if (!IsWindowVisible(window)) return Fail("the window is not visible");
    if (!(GetWindowLongW(window, GWL_STYLE) & WS_SYSMENU))
        return Fail("the window has no close box");
    if (!IsWindowEnabled(window)) return Fail("the window is disabled (a modal window is up)");
    if (!PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0))
        return Fail("PostMessageW(WM_SYSCOMMAND) failed");
    return true;
}

// Under Wine, SetForegroundWindow succeeds from any thread and any process (it
// has no foreground lock); the foreground is NULL for a moment, then the window.
// Windows refuses it to a process that is not in the foreground itself.
bool BringToFront(HWND window) {
    HWND root = GetAncestor(window, GA_ROOT);
    if (root == nullptr || !IsWindow(root)) return Fail("the window does not exist");
    if (!IsWindowVisible(root)) return Fail("the window is not visible");
    ULONGLONG heldSince = 0;
    ULONGLONG lastTry = 0;
    bool held = Poll(
        [&] {
            ULONGLONG now = GetTickCount64();
            if (GetForegroundWindow() != root) {
                heldSince = 0;
                if (lastTry == 0 || now - lastTry >= kForegroundRetryMs) {
                    SetForegroundWindow(root);
                    lastTry = now;
                }
                return false;
            }
            if (heldSince == 0) heldSince = now;
            return now - heldSince >= kForegroundSettleMs;
        },
        kForegroundWaitMs);
    if (held) return true;
    return Fail("the window could not be brought to the foreground (foreground is " +
                Hex(GetForegroundWindow()) + ")");
}

// Real keystrokes: SendInput puts them in the system input queue, which gives
// them to the focus of the foreground window; they then go through that
// window's message loop (IsDialogMessageW, TranslateMessage) and DefWindowProc
// turns Alt+F4 into SC_CLOSE on the root window. Under Wine with Xvfb and no
// window manager this is reliable: wineserver routes injected input by its own
// foreground window, with no X focus involved. Where the foreground cannot be
// had, posting WM_SYSKEYDOWN VK_F4 (with the Alt bit, 1 << 29) to the focused
// control would be the nearest substitute: same loop, same DefWindowProc path.
bool AltF4(HWND window) {
    HWND root = GetAncestor(window, GA_ROOT);
    if (root == nullptr || !IsWindow(root)) return Fail("the window does not exist");
    if (!IsWindowVisible(root)) return Fail("the window is not visible");
    if (!IsWindowEnabled(root)) return Fail("the window is disabled (a modal window is up)");
    if (!BringToFront(root)) return false;
    INPUT keys[4] = {};
    const WORD order[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[i].ki.wScan = static_cast<WORD>(MapVirtualKeyW(order[i], MAPVK_VK_TO_VSC));
        keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    UINT sent = SendInput(4, keys, sizeof(INPUT));
    if (sent != 4) {
        // Never leave Alt down for the tests that follow.
        SendInput(2, keys + 2, sizeof(INPUT));
        return Fail("SendInput was blocked after " + std::to_string(sent) + " keys");
    }
    return true;
}

namespace detail {
namespace {

enum class Escalation { None, ScriptFailed, TimedOut };

struct Run {
    DWORD uiThread = 0;
    // The ui thread's windows from before the run (a test's tray window, say):
    // only the windows the ui call made are closed when it must be ended.
    std::vector<HWND> windowsBefore;
    ULONGLONG deadline = 0;
    int timeoutMs = 0;
    HANDLE uiDone = nullptr;
    HANDLE scriptDone = nullptr;
    std::atomic<bool> cancel{false};
    // Written by the script thread before scriptDone is set.
    testing::TestPartResultArray results;
    bool scriptFailed = false;
    std::string exception;
    // Written by the watchdog before it ends, or by the ui thread after that.
    Escalation escalation = Escalation::None;
    bool timedOut = false;
    bool scriptDoneAtDeadline = false;
};

DWORD Remaining(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

void RunScript(Run& run, const std::function<void()>& script) {
    {
        // The script's assertions are kept here and reported again on the ui
        // thread: the test's result is then complete when RunWithDriver returns.
        testing::ScopedFakeTestPartResultReporter capture(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &run.results);
        t_cancel = &run.cancel;
        try {
            script();
        } catch (const std::exception& error) {
            run.exception = error.what();
        } catch (...) {
            run.exception = "an exception that is not a std::exception";
        }
        t_cancel = nullptr;
    }
    bool failed = !run.exception.empty();
    for (int i = 0; i < run.results.size(); ++i)
        failed = failed || run.results.GetTestPartResult(i).failed();
    run.scriptFailed = failed;
    SetEvent(run.scriptDone);
}

BOOL CALLBACK ListOne(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// The top-level windows of the thread that were not there before the run.
std::vector<HWND> NewWindows(const Run& run) {
    std::vector<HWND> all;
    EnumThreadWindows(run.uiThread, ListOne, reinterpret_cast<LPARAM>(&all));
    std::erase_if(all, [&run](HWND window) {
        return std::find(run.windowsBefore.begin(), run.windowsBefore.end(), window) !=
               run.windowsBefore.end();
    });
    return all;
}

// Ends the ui call: a modal loop that gets WM_QUIT leaves and posts it again, so
// nested loops (a MessageBoxW inside a custom modal loop) all unwind. Loops that
// ignore WM_QUIT get WM_CLOSE for every window of the thread next.
void Escalate(Run& run) {
    for (int round = 0; round < kEscalationRounds; ++round) {
        if (round > 0) {
            for (HWND window : NewWindows(run)) {
                // A message box ignores WM_CLOSE when it has no Cancel button;
                // IDCANCEL is what Escape would send it.
                if (ClassIs(window, L"#32770")) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
        }
        PostThreadMessageW(run.uiThread, WM_QUIT, 0, 0);
        if (WaitForSingleObject(run.uiDone, kEscalationRoundMs) == WAIT_OBJECT_0) return;
    }
    std::fprintf(stderr,
                 "RunWithDriver: the user interface call ignored WM_QUIT and WM_CLOSE for %d s; "
                 "stopping the test program rather than hanging\n",
                 kEscalationRounds);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
}

void Watch(Run& run) {
    HANDLE events[2] = {run.uiDone, run.scriptDone};
    DWORD count = 2;
    for (;;) {
        DWORD woke = WaitForMultipleObjects(count, events, FALSE, Remaining(run.deadline));
        if (woke == WAIT_OBJECT_0) return;
        if (woke == WAIT_OBJECT_0 + 1) {
            if (run.scriptFailed) {
                run.escalation = Escalation::ScriptFailed;
                break;
            }
            count = 1;  // the script is done; the ui has until the deadline
            continue;
        }
        run.escalation = Escalation::TimedOut;
        run.timedOut = true;
        run.scriptDoneAtDeadline = WaitForSingleObject(run.scriptDone, 0) == WAIT_OBJECT_0;
        break;
    }
    run.cancel = true;
    Escalate(run);
}

// After an escalation: the windows the ui call left behind and the WM_QUIT it
// did not take would spoil the next test on this thread.
void CleanUpThread(const Run& run) {
    for (HWND window : NewWindows(run)) {
        if (IsWindow(window)) DestroyWindow(window);
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

void Report(const Run& run, const std::source_location& where) {
    for (int i = 0; i < run.results.size(); ++i) {
        const testing::TestPartResult& result = run.results.GetTestPartResult(i);
        if (!result.failed()) continue;
        const char* file = result.file_name() != nullptr ? result.file_name() : where.file_name();
        int line =
            result.file_name() != nullptr ? result.line_number() : static_cast<int>(where.line());
        if (result.fatally_failed()) {
            [&] { GTEST_FAIL_AT(file, line) << "(in the driver script) " << result.message(); }();
        } else {
            ADD_FAILURE_AT(file, line) << "(in the driver script) " << result.message();
        }
    }
    if (!run.exception.empty())
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "the driver script threw: " << run.exception;
    if (run.timedOut) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "RunWithDriver timed out after " << run.timeoutMs << " ms: "
            << (run.scriptDoneAtDeadline ? "the script finished but the user interface call did "
                                           "not return"
                                         : "the script did not finish")
            << (run.escalation != Escalation::None ? "; the user interface was told to quit" : "");
    }
}

}  // namespace

void RunWithDriver(const std::function<void()>& ui, const std::function<void()>& script,
                   int timeoutMs, const std::source_location& where) {
    VbUnique<VbHandleTraits> uiDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    VbUnique<VbHandleTraits> scriptDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!uiDone || !scriptDone) {
        ADD_FAILURE_AT(where.file_name(), where.line()) << "CreateEventW failed";
        return;
    }
    Run run;
    run.uiThread = GetCurrentThreadId();
    EnumThreadWindows(run.uiThread, ListOne, reinterpret_cast<LPARAM>(&run.windowsBefore));
    run.timeoutMs = timeoutMs;
    run.deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    run.uiDone = uiDone.Get();
    run.scriptDone = scriptDone.Get();

    std::thread scriptThread([&run, &script] { RunScript(run, script); });
    std::thread watchdog([&run] { Watch(run); });
    std::exception_ptr uiError;
    try {
        ui();
    } catch (...) {
        uiError = std::current_exception();
    }
    SetEvent(run.uiDone);
    watchdog.join();

    // The script may still be checking what the ui left behind (a window going away).
    if (WaitForSingleObject(run.scriptDone, Remaining(run.deadline)) != WAIT_OBJECT_0) {
        run.timedOut = true;
        run.scriptDoneAtDeadline = false;
        run.cancel = true;
        if (WaitForSingleObject(run.scriptDone, kCancelGraceMs) != WAIT_OBJECT_0) {
            // The script's thread uses this frame; it cannot be left running.
            std::fprintf(stderr,
                         "RunWithDriver: the driver script is stuck outside the driver's waits; "
                         "stopping the test program rather than hanging\n");
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    scriptThread.join();

    if (run.escalation != Escalation::None) CleanUpThread(run);
    Report(run, where);
    if (uiError) std::rethrow_exception(uiError);
}

}  // namespace detail
}  // namespace ui_driver
