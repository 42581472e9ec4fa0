// The window driver against a real window built here: a popup with a password
// box and buttons, run by a GetMessageW/IsDialogMessageW loop like the agent's,
// and a message box it owns. Only what the product tests could not notice is
// checked: text that arrives altered, clicks no user could make, and runs that
// would hang or pass instead of failing.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>

#include "tests/support/ui_driver.h"

using namespace ui_driver;

namespace {

constexpr wchar_t kClass[] = L"VbDriverTestWindow";
// Accents, a BMP symbol and a character outside the BMP (U+1F600, two UTF-16 units).
constexpr wchar_t kTyped[] = L"Mot-de-pass\u00e9 \u20ac\U0001F600!";
constexpr wchar_t kWarning[] = L"Le mot de passe est incorrect.\nR\u00e9essayez \u2014 \U0001F512";

enum : int { kEditId = 101, kWarnId = 102, kDisabledId = 105 };

// A modal window of its own class, as the agent makes them, recording what it
// is told. The script reads the atomics while the window's loop runs.
struct TestWindow {
    HWND hwnd = nullptr;
    std::wstring received;  // the edit box's text when OK was pressed
    std::atomic<int> okPresses{0}, boxResult{0};

    // Creates and shows the window, then runs its loop until it is destroyed.
    void Run(const wchar_t* title);
};

// The window being run; one at a time.
TestWindow* g_running = nullptr;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    TestWindow* self = g_running;
    if (message != WM_COMMAND || self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    int id = LOWORD(wParam);
    if (id == IDOK) {
        // The agent reads its password boxes this way.
        wchar_t text[256] = {};
        GetWindowTextW(GetDlgItem(window, kEditId), text, 256);
        self->received = text;
        ++self->okPresses;
        DestroyWindow(window);
    } else if (id == kWarnId) {
        self->boxResult = MessageBoxW(window, kWarning, L"Vellumbrook", MB_OK | MB_ICONWARNING);
    }
    return 0;
}

void TestWindow::Run(const wchar_t* title) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    static const WNDCLASSW windowClass = {
        .lpfnWndProc = Procedure,
        .hInstance = instance,
        .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
        .lpszClassName = kClass};
    [[maybe_unused]] static const ATOM registered = RegisterClassW(&windowClass);
    hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME, kClass, title, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                           200, 200, 420, 170, nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return;
    g_running = this;
    auto child = [&](const wchar_t* className, const wchar_t* text, DWORD style, int x, int id) {
        return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x,
                               id == kEditId ? 10 : 50, id == kEditId ? 390 : 70, 26, hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                               nullptr);
    };
    HWND edit =
        child(L"EDIT", L"", ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 10, kEditId);
    child(L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 10, IDOK);
    child(L"BUTTON", L"Avertir", BS_PUSHBUTTON | WS_TABSTOP, 90, kWarnId);
    child(L"BUTTON", L"Inactif", BS_PUSHBUTTON | WS_DISABLED, 170, kDisabledId);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    SetFocus(edit);

    MSG message;
    while (IsWindow(hwnd)) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));  // for outer loops
        if (got == 0 || got == -1) break;
        if (IsDialogMessageW(hwnd, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    g_running = nullptr;
}

HWND OwnWindow(const wchar_t* title) {
    return WaitForWindow(kClass, title, GetCurrentProcessId());
}

// RunWithDriver with its failures kept in failures instead of reported; returns
// how long it took, in milliseconds.
template <class Ui, class Script>
ULONGLONG CapturedRun(testing::TestPartResultArray& failures, Ui&& ui, Script&& script,
                      int timeoutMs) {
    ULONGLONG start = GetTickCount64();
    testing::ScopedFakeTestPartResultReporter capture(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    RunWithDriver(ui, script, timeoutMs);
    return GetTickCount64() - start;
}

// Exactly one failure, whose message says every one of parts.
testing::AssertionResult OneFailureSaying(const testing::TestPartResultArray& failures,
                                          std::initializer_list<const char*> parts) {
    if (failures.size() != 1) return testing::AssertionFailure() << failures.size() << " failures";
    std::string message = failures.GetTestPartResult(0).message();
    for (const char* part : parts) {
        if (message.find(part) == std::string::npos)
            return testing::AssertionFailure() << "no \"" << part << "\" in: " << message;
    }
    return testing::AssertionSuccess();
}

// A WM_QUIT left in this thread's queue would end the next test's loop at once.
bool QuitLeftInQueue() {
    MSG message;
    return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

}  // namespace

TEST(UiDriver, TextArrivesExactlyTheMessageBoxIsReadAndUnreachableButtonsRefuse) {
    TestWindow window;
    RunWithDriver([&] { window.Run(L"Saisie"); },
                  [&] {
                      HWND w = OwnWindow(L"Saisie");
                      ASSERT_NE(w, nullptr) << DriverError();
                      HWND edit = Control(w, kEditId);
                      ASSERT_TRUE(TypeInto(edit, L"brouillon")) << DriverError();
                      // Typing again replaces the draft, as after Ctrl+A.
                      ASSERT_TRUE(TypeInto(edit, kTyped)) << DriverError();
                      EXPECT_FALSE(Press(w, kDisabledId));
                      ASSERT_TRUE(Press(w, kWarnId)) << DriverError();
                      HWND box = WaitForMessageBox(w);
                      ASSERT_NE(box, nullptr) << DriverError();
                      EXPECT_EQ(MessageBoxText(box), std::wstring(kWarning));
                      // The box owns the input now: its owner cannot be clicked.
                      EXPECT_FALSE(Press(w, IDOK));
                      EXPECT_FALSE(CloseBox(w));
                      EXPECT_EQ(window.boxResult.load(), 0);
                      ASSERT_TRUE(DismissMessageBox(box)) << DriverError();
                      EXPECT_TRUE(WaitGone(box)) << DriverError();
                      EXPECT_TRUE(WaitUntil([&] { return window.boxResult != 0; }));
                      ASSERT_TRUE(Press(w, IDOK)) << DriverError();
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  30000);
    EXPECT_EQ(window.okPresses.load(), 1);
    EXPECT_EQ(window.received, std::wstring(kTyped));
    EXPECT_EQ(window.received.size(), 17u);  // U+1F600 is two UTF-16 units
    EXPECT_EQ(window.boxResult.load(), IDOK);
}

// A run whose script or ui call gets stuck ends after the timeout with one
// failure, the ui's windows closed, instead of hanging.
TEST(RunWithDriver, AStuckRunEndsAndFailsInsteadOfHanging) {
    {
        SCOPED_TRACE("the script times out while the ui runs");
        TestWindow window;
        testing::TestPartResultArray failures;
        ULONGLONG elapsed = CapturedRun(
            failures, [&] { window.Run(L"D\u00e9lai"); },
            [] { (void)WaitForWindow(L"VbNoSuchWindowClass", nullptr, 0, 60000); }, 1500);
        EXPECT_GE(elapsed, 1400u);
        EXPECT_LT(elapsed, 10000u);
        EXPECT_TRUE(
            OneFailureSaying(failures, {"timed out after 1500 ms", "the script did not finish"}));
        EXPECT_TRUE(failures.size() == 1 && failures.GetTestPartResult(0).nonfatally_failed());
        EXPECT_FALSE(IsWindow(window.hwnd));
        EXPECT_FALSE(QuitLeftInQueue());
    }
    {
        SCOPED_TRACE("a window is left up after the script finished");
        TestWindow window;
        testing::TestPartResultArray failures;
        CapturedRun(
            failures, [&] { window.Run(L"Reste"); },
            [] { ASSERT_NE(OwnWindow(L"Reste"), nullptr) << DriverError(); }, 1500);
        EXPECT_TRUE(OneFailureSaying(
            failures, {"the script finished but the user interface call did not return"}));
        EXPECT_FALSE(IsWindow(window.hwnd));
    }
}

// A failing script ends the ui at once, even from inside a MessageBoxW, and its
// failure is reported at its own line, still fatal.
TEST(RunWithDriver, AFailingScriptEndsTheUiEarlyAndReportsAtItsLine) {
    TestWindow window;
    testing::TestPartResultArray failures;
    int failingLine = 0;
    ULONGLONG elapsed = CapturedRun(
        failures, [&] { window.Run(L"\u00c9chec"); },
        [&] {
            HWND w = OwnWindow(L"\u00c9chec");
            ASSERT_NE(w, nullptr) << DriverError();
            ASSERT_TRUE(Press(w, kWarnId)) << DriverError();
            ASSERT_NE(WaitForMessageBox(w), nullptr) << DriverError();
            failingLine = __LINE__ + 1;
            ASSERT_EQ(1, 2) << "deliberate";
        },
        60000);
    EXPECT_LT(elapsed, 20000u);
    ASSERT_TRUE(OneFailureSaying(failures, {"deliberate"}));
    const testing::TestPartResult& failure = failures.GetTestPartResult(0);
    EXPECT_TRUE(failure.fatally_failed());
    EXPECT_EQ(std::string(failure.file_name()), std::string(__FILE__));
    EXPECT_EQ(failure.line_number(), failingLine);
    EXPECT_FALSE(IsWindow(window.hwnd));
    EXPECT_FALSE(QuitLeftInQueue());
}
