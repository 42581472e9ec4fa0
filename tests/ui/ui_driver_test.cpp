// The window driver against real windows built here: a popup window with a
// password box and buttons, run by a GetMessageW/IsDialogMessageW loop like the
// agent's, and message boxes it owns. The same window is also hosted by a second
// copy of this program, to drive it from another process.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <optional>
#include <string>

#include "common/vb_handle.h"
#include "tests/support/ui_driver.h"

using namespace ui_driver;

namespace {

constexpr wchar_t kClass[] = L"VbDriverTestWindow";
constexpr wchar_t kHostTitle[] = L"H\u00f4te de test";
constexpr wchar_t kHostFlag[] = L"--ui-driver-host";
// Accents, a BMP symbol and a character outside the BMP (U+1F600, two UTF-16 units).
constexpr wchar_t kTyped[] = L"Mot-de-pass\u00e9 \u20ac\U0001F600!";

enum : int { kEditId = 101, kWarnId = 102, kFocusEditId = 103, kCountId = 104, kDisabledId = 105 };

// A modal window of its own class, as the agent makes them, recording what it
// is told. The script reads the atomics while the window's loop runs.
class TestWindow {
public:
    explicit TestWindow(std::wstring title) : title_(std::move(title)) {}

    std::wstring warning = L"Le mot de passe est incorrect.\nR\u00e9essayez \u2014 \U0001F512";
    int editLimit = 0;
    bool focusOk = false;   // the focus starts on OK instead of the edit box
    bool echoOnOk = false;  // OK shows the received text in a message box first

    // Creates and shows the window, then runs its loop until it is destroyed.
    void Run() {
        RegisterOnce();
        HINSTANCE instance = GetModuleHandleW(nullptr);
        hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME, kClass, title_.c_str(),
                               WS_POPUP | WS_CAPTION | WS_SYSMENU, 200, 200, 420, 170, nullptr,
                               nullptr, instance, this);
        if (hwnd == nullptr) return;
        edit = Child(L"EDIT", L"", ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 10,
                     10, 390, 24, kEditId);
        if (editLimit > 0) SendMessageW(edit, EM_LIMITTEXT, editLimit, 0);
        HWND ok = Child(L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 10, 50, 70, 26, IDOK);
        Child(L"BUTTON", L"Avertir", BS_PUSHBUTTON | WS_TABSTOP, 0, 90, 50, 70, 26, kWarnId);
        Child(L"BUTTON", L"Focus", BS_PUSHBUTTON | WS_TABSTOP, 0, 170, 50, 70, 26, kFocusEditId);
        Child(L"BUTTON", L"Compter", BS_PUSHBUTTON | WS_TABSTOP, 0, 250, 50, 70, 26, kCountId);
        Child(L"BUTTON", L"Inactif", BS_PUSHBUTTON | WS_DISABLED, 0, 330, 50, 70, 26, kDisabledId);
        ShowWindow(hwnd, SW_SHOW);
        SetForegroundWindow(hwnd);
        SetFocus(focusOk ? ok : edit);

        MSG message;
        while (IsWindow(hwnd)) {
            BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == 0 || got == -1) {
                if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            // Proof that Alt+F4 came through the input queue and this loop.
            if (message.message == WM_SYSKEYDOWN && message.wParam == VK_F4) sawAltF4Key = true;
            if (IsDialogMessageW(hwnd, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }

    HWND hwnd = nullptr;
    HWND edit = nullptr;
    std::wstring received;  // the edit box's text when OK was pressed
    bool sawAltF4Key = false;
    std::atomic<int> okPresses{0};
    std::atomic<int> closes{0};
    std::atomic<int> counts{0};
    std::atomic<int> countCode{-1};
    std::atomic<HWND> countSender{nullptr};
    std::atomic<int> disabledClicks{0};
    std::atomic<int> boxResult{0};

private:
    static void RegisterOnce() {
        static const bool registered = [] {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = Procedure;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            windowClass.lpszClassName = kClass;
            return RegisterClassW(&windowClass) != 0;
        }();
        (void)registered;
    }

    HWND Child(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int x,
               int y, int width, int height, int id) {
        return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                               height, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam,
                                      LPARAM lParam) noexcept {
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        switch (message) {
            case WM_NCCREATE: {
                auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
                SetWindowLongPtrW(window, GWLP_USERDATA,
                                  reinterpret_cast<LONG_PTR>(create->lpCreateParams));
                return DefWindowProcW(window, message, wParam, lParam);
            }
            case WM_COMMAND:
                if (self == nullptr) return 0;
                return self->OnCommand(LOWORD(wParam), HIWORD(wParam),
                                       reinterpret_cast<HWND>(lParam));
            case WM_CLOSE:
                if (self != nullptr) ++self->closes;
                DestroyWindow(window);
                return 0;
            default:
                return DefWindowProcW(window, message, wParam, lParam);
        }
    }

    LRESULT OnCommand(int id, int code, HWND sender) {
        switch (id) {
            case IDOK: {
                // The agent reads its password boxes this way.
                wchar_t text[256] = {};
                GetWindowTextW(edit, text, 256);
                received = text;
                ++okPresses;
                if (echoOnOk) {
                    std::wstring echo = L"Re\u00e7u : " + received;
                    boxResult = MessageBoxW(hwnd, echo.c_str(), L"Vellumbrook", MB_OK);
                }
                DestroyWindow(hwnd);
                return 0;
            }
            case kWarnId:
                boxResult =
                    MessageBoxW(hwnd, warning.c_str(), L"Vellumbrook", MB_OK | MB_ICONWARNING);
                return 0;
            case kFocusEditId:
                SetFocus(edit);
                return 0;
            case kCountId:
                countCode = code;
                countSender = sender;
                ++counts;
                return 0;
            case kDisabledId:
                ++disabledClicks;
                return 0;
            default:
                return 0;
        }
    }

    std::wstring title_;
};

// This program started again with kHostFlag hosts one window for the
// cross-process tests; its exit code tells how the window ended.
int RunHost() {
    TestWindow window(kHostTitle);
    window.echoOnOk = true;
    window.Run();
    if (window.okPresses > 0) return 100 + window.boxResult;
    if (window.closes > 0) return window.sawAltF4Key ? 51 : 50;
    return 1;
}

[[maybe_unused]] const bool kHosting = [] {
    if (std::wcsstr(GetCommandLineW(), kHostFlag) != nullptr) ExitProcess(RunHost());
    return false;
}();

class HostProcess {
public:
    bool Start() {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (length == 0 || length == MAX_PATH) return false;
        std::wstring command = L"\"" + std::wstring(path) + L"\" " + kHostFlag;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return false;
        process_.Reset(info.hProcess);
        CloseHandle(info.hThread);
        id_ = info.dwProcessId;
        return true;
    }
    DWORD Id() const { return id_; }
    std::optional<DWORD> WaitExit(DWORD timeoutMs) {
        if (WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }
    // A host that outlives its test would hold windows the next tests may find.
    ~HostProcess() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.Get(), 9);
    }

private:
    VbUnique<VbHandleTraits> process_;
    DWORD id_ = 0;
};

HWND OwnWindow(const wchar_t* title) {
    return WaitForWindow(kClass, title, GetCurrentProcessId());
}

}  // namespace

TEST(UiDriver, TypedTextArrivesExactlyAsTyped) {
    TestWindow window(L"Saisie");
    RunWithDriver([&] { window.Run(); },
                  [] {
                      HWND w = OwnWindow(L"Saisie");
                      ASSERT_NE(w, nullptr) << DriverError();
                      HWND edit = Control(w, kEditId);
                      ASSERT_TRUE(TypeInto(edit, L"brouillon")) << DriverError();
                      // Typing again replaces the draft, as after Ctrl+A.
                      ASSERT_TRUE(TypeInto(edit, kTyped)) << DriverError();
                      ASSERT_TRUE(Press(w, IDOK)) << DriverError();
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  20000);
    EXPECT_EQ(window.okPresses.load(), 1);
    EXPECT_EQ(window.received, std::wstring(kTyped));
    EXPECT_EQ(window.received.size(), 17u);  // U+1F600 is two UTF-16 units
}

// Keystroke semantics, which WM_SETTEXT would not have: the box keeps its limit.
TEST(UiDriver, TypingKeepsTheEditBoxLimit) {
    TestWindow window(L"Limite");
    window.editLimit = 4;
    RunWithDriver([&] { window.Run(); },
                  [] {
                      HWND w = OwnWindow(L"Limite");
                      ASSERT_NE(w, nullptr) << DriverError();
                      ASSERT_TRUE(TypeInto(Control(w, kEditId), L"\u00e9t\u00e9 2024"))
                          << DriverError();
                      ASSERT_TRUE(Press(w, IDOK)) << DriverError();
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  20000);
    EXPECT_EQ(window.received, L"\u00e9t\u00e9 ");
}

TEST(UiDriver, TextOfReadsControlsAndTypeIntoRefusesControlCharacters) {
    TestWindow window(L"Textes");
    RunWithDriver([&] { window.Run(); },
                  [] {
                      HWND w = OwnWindow(L"Textes");
                      ASSERT_NE(w, nullptr) << DriverError();
                      EXPECT_EQ(TextOf(Control(w, kCountId)), L"Compter");
                      EXPECT_EQ(TextOf(w), L"Textes");
                      EXPECT_FALSE(TypeInto(Control(w, kEditId), L"a\nb"));
                      EXPECT_FALSE(TypeInto(Control(w, kEditId), L"a\x01b"));
                      EXPECT_FALSE(TypeInto(nullptr, L"a"));
                      ASSERT_TRUE(CloseBox(w)) << DriverError();
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  20000);
    EXPECT_EQ(window.closes.load(), 1);
}

TEST(UiDriver, PressSendsTheClickCommandOfEnabledButtonsOnly) {
    TestWindow window(L"Boutons");
    HWND countButton = nullptr;
    RunWithDriver([&] { window.Run(); },
                  [&] {
                      HWND w = OwnWindow(L"Boutons");
                      ASSERT_NE(w, nullptr) << DriverError();
                      countButton = Control(w, kCountId);
                      ASSERT_TRUE(Press(w, kCountId)) << DriverError();
                      EXPECT_TRUE(WaitUntil([&] { return window.counts == 1; }));
                      EXPECT_FALSE(Press(w, kDisabledId));
                      EXPECT_FALSE(Press(w, 999));
                      ASSERT_TRUE(Press(w, kCountId)) << DriverError();
                      EXPECT_TRUE(WaitUntil([&] { return window.counts == 2; }));
                      ASSERT_TRUE(Press(w, IDOK)) << DriverError();
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  20000);
    EXPECT_EQ(window.counts.load(), 2);
    EXPECT_EQ(window.countCode.load(), BN_CLICKED);
    EXPECT_EQ(window.countSender.load(), countButton);
    EXPECT_EQ(window.disabledClicks.load(), 0);
    EXPECT_EQ(window.okPresses.load(), 1);
}

TEST(UiDriver, MessageBoxIsReadAndDismissed) {
    TestWindow window(L"Avertissement");
    RunWithDriver([&] { window.Run(); },
                  [&] {
                      HWND w = OwnWindow(L"Avertissement");
                      ASSERT_NE(w, nullptr) << DriverError();
                      ASSERT_TRUE(Press(w, kWarnId)) << DriverError();
                      HWND box = WaitForMessageBox(w);
                      ASSERT_NE(box, nullptr) << DriverError();
                      EXPECT_EQ(MessageBoxText(box), window.warning);
                      // The box owns the input now: its owner cannot be clicked.
                      EXPECT_FALSE(Press(w, kCountId));
                      EXPECT_FALSE(CloseBox(w));
                      EXPECT_EQ(FocusedControl(w), nullptr);
                      HWND boxFocus = FocusedControl(box);
                      EXPECT_NE(boxFocus, nullptr) << DriverError();
                      EXPECT_EQ(window.boxResult.load(), 0);
                      ASSERT_TRUE(DismissMessageBox(box)) << DriverError();
                      EXPECT_TRUE(WaitGone(box)) << DriverError();
                      EXPECT_TRUE(WaitUntil([&] { return window.boxResult != 0; }));
                      ASSERT_TRUE(CloseBox(w)) << DriverError();
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  30000);
    EXPECT_EQ(window.boxResult.load(), IDOK);
    EXPECT_EQ(window.counts.load(), 0);
    EXPECT_EQ(window.closes.load(), 1);
}

TEST(UiDriver, CloseBoxDeliversWmClose) {
    TestWindow window(L"Fermeture");
    int closes = RunWithDriver(
        [&] {
            window.Run();
            return window.closes.load();
        },
        [] {
            HWND w = OwnWindow(L"Fermeture");
            ASSERT_NE(w, nullptr) << DriverError();
            ASSERT_TRUE(CloseBox(w)) << DriverError();
            EXPECT_TRUE(WaitGone(w)) << DriverError();
        },
        20000);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(window.sawAltF4Key);
    EXPECT_EQ(window.okPresses.load(), 0);
}

TEST(UiDriver, AltF4DeliversWmCloseThroughTheKeyboard) {
    TestWindow window(L"Clavier");
    std::atomic<bool> refused{false};
    RunWithDriver([&] { window.Run(); },
                  [&] {
                      HWND w = OwnWindow(L"Clavier");
                      ASSERT_NE(w, nullptr) << DriverError();
                      if (!AltF4(w)) {
                          refused = GetForegroundWindow() != w;
                          ASSERT_TRUE(refused) << DriverError();
                          ASSERT_TRUE(CloseBox(w)) << DriverError();
                      }
                      EXPECT_TRUE(WaitGone(w)) << DriverError();
                  },
                  20000);
    if (refused) GTEST_SKIP() << "this system does not let the test take the foreground";
    EXPECT_EQ(window.closes.load(), 1);
    EXPECT_TRUE(window.sawAltF4Key);
}

TEST(UiDriver, FocusedControlFollowsSetFocus) {
    TestWindow window(L"Focus");
    window.focusOk = true;
    RunWithDriver(
        [&] { window.Run(); },
        [] {
            HWND w = OwnWindow(L"Focus");
            ASSERT_NE(w, nullptr) << DriverError();
            // The window gives the focus to OK just after showing itself.
            EXPECT_TRUE(WaitUntil([w] { return FocusedControl(w) == Control(w, IDOK); }))
                << "focus is on " << FocusedControl(w);
            // The button's click takes the focus; its handler gives it to the edit box.
            ASSERT_TRUE(Press(w, kFocusEditId)) << DriverError();
            EXPECT_TRUE(WaitUntil([w] { return FocusedControl(w) == Control(w, kEditId); }))
                << "focus is on " << FocusedControl(w);
            ASSERT_TRUE(CloseBox(w)) << DriverError();
            EXPECT_TRUE(WaitGone(w)) << DriverError();
        },
        20000);
    EXPECT_EQ(window.closes.load(), 1);
}

TEST(RunWithDriver, AScriptThatTimesOutEndsTheUiAndFails) {
    TestWindow window(L"D\u00e9lai");
    // A window this thread had before the run, as a test's tray window would be.
    HWND before = CreateWindowExW(0, L"STATIC", L"avant", WS_POPUP | WS_VISIBLE, 0, 0, 50, 20,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(before, nullptr);
    testing::TestPartResultArray failures;
    ULONGLONG start = GetTickCount64();
    {
        testing::ScopedFakeTestPartResultReporter capture(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        RunWithDriver([&] { window.Run(); },
                      [] { (void)WaitForWindow(L"VbNoSuchWindowClass", nullptr, 0, 60000); }, 1500);
    }
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 10000u);
    ASSERT_EQ(failures.size(), 1);
    const testing::TestPartResult& failure = failures.GetTestPartResult(0);
    EXPECT_TRUE(failure.nonfatally_failed());
    EXPECT_NE(std::string(failure.message()).find("timed out after 1500 ms"), std::string::npos)
        << failure.message();
    EXPECT_NE(std::string(failure.message()).find("the script did not finish"), std::string::npos)
        << failure.message();
    EXPECT_FALSE(IsWindow(window.hwnd));
    EXPECT_TRUE(IsWindow(before));
    DestroyWindow(before);
    // Nothing is left in this thread's queue to end the next test's loop.
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST(RunWithDriver, AScriptStillWaitingAfterTheUiReturnedIsCutShortAndFails) {
    testing::TestPartResultArray failures;
    ULONGLONG start = GetTickCount64();
    {
        testing::ScopedFakeTestPartResultReporter capture(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        RunWithDriver([] {}, [] { (void)WaitForWindow(L"VbNoSuchWindowClass", nullptr, 0, 60000); },
                      1500);
    }
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 10000u);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_NE(
        std::string(failures.GetTestPartResult(0).message()).find("the script did not finish"),
        std::string::npos)
        << failures.GetTestPartResult(0).message();
}

TEST(RunWithDriver, AWindowLeftUpAfterTheScriptIsClosedAndFails) {
    TestWindow window(L"Reste");
    testing::TestPartResultArray failures;
    {
        testing::ScopedFakeTestPartResultReporter capture(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        RunWithDriver([&] { window.Run(); },
                      [] { ASSERT_NE(OwnWindow(L"Reste"), nullptr) << DriverError(); }, 1500);
    }
    ASSERT_EQ(failures.size(), 1);
    EXPECT_NE(std::string(failures.GetTestPartResult(0).message())
                  .find("the script finished but the user interface call did not return"),
              std::string::npos)
        << failures.GetTestPartResult(0).message();
    EXPECT_FALSE(IsWindow(window.hwnd));
}

// A failing script ends the ui at once, even from inside a MessageBoxW, and its
// failure is reported at its own line, still fatal.
TEST(RunWithDriver, AFailingScriptEndsTheUiEarlyAndReportsAtItsLine) {
    TestWindow window(L"\u00c9chec");
    testing::TestPartResultArray failures;
    int failingLine = 0;
    ULONGLONG start = GetTickCount64();
    {
        testing::ScopedFakeTestPartResultReporter capture(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        RunWithDriver([&] { window.Run(); },
                      [&] {
                          HWND w = OwnWindow(L"\u00c9chec");
                          ASSERT_NE(w, nullptr) << DriverError();
                          ASSERT_TRUE(Press(w, kWarnId)) << DriverError();
                          ASSERT_NE(WaitForMessageBox(w), nullptr) << DriverError();
                          failingLine = __LINE__ + 1;
                          ASSERT_EQ(1, 2) << "deliberate";
                      },
                      60000);
    }
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_LT(elapsed, 20000u);
    ASSERT_EQ(failures.size(), 1);
    const testing::TestPartResult& failure = failures.GetTestPartResult(0);
    EXPECT_TRUE(failure.fatally_failed());
    EXPECT_EQ(std::string(failure.file_name()), std::string(__FILE__));
    EXPECT_EQ(failure.line_number(), failingLine);
    EXPECT_NE(std::string(failure.message()).find("deliberate"), std::string::npos);
    EXPECT_FALSE(IsWindow(window.hwnd));
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST(CrossProcess, TypePressAndReadTheMessageBoxOfAnotherProcess) {
    HostProcess host;
    ASSERT_TRUE(host.Start());
    HWND w = WaitForWindow(kClass, kHostTitle, host.Id());
    ASSERT_NE(w, nullptr) << DriverError();
    HWND edit = Control(w, kEditId);
    // The host gives the focus to its edit box just after showing the window.
    EXPECT_TRUE(WaitUntil([&] { return FocusedControl(w) == edit; }))
        << "focus is on " << FocusedControl(w) << ", the edit box is " << edit;
    ASSERT_TRUE(TypeInto(edit, kTyped)) << DriverError();
    ASSERT_TRUE(Press(w, IDOK)) << DriverError();
    HWND box = WaitForMessageBox(w);
    ASSERT_NE(box, nullptr) << DriverError();
    EXPECT_EQ(MessageBoxText(box), L"Re\u00e7u : " + std::wstring(kTyped));
    ASSERT_TRUE(DismissMessageBox(box)) << DriverError();
    EXPECT_EQ(host.WaitExit(kWaitMs), std::optional<DWORD>(100 + IDOK));
}

TEST(CrossProcess, CloseBoxClosesAWindowOfAnotherProcess) {
    HostProcess host;
    ASSERT_TRUE(host.Start());
    HWND w = WaitForWindow(kClass, kHostTitle, host.Id());
    ASSERT_NE(w, nullptr) << DriverError();
    ASSERT_TRUE(CloseBox(w)) << DriverError();
    EXPECT_EQ(host.WaitExit(kWaitMs), std::optional<DWORD>(50));
}

// Alt+F4 must take the foreground from a window of this process first.
TEST(CrossProcess, AltF4ReachesAWindowOfAnotherProcess) {
    TestWindow mine(L"Fen\u00eatre locale");
    HostProcess host;
    std::atomic<bool> refused{false};
    std::optional<DWORD> exitCode;
    RunWithDriver([&] { mine.Run(); },
                  [&] {
                      HWND local = OwnWindow(L"Fen\u00eatre locale");
                      ASSERT_NE(local, nullptr) << DriverError();
                      ASSERT_TRUE(host.Start());
                      HWND w = WaitForWindow(kClass, kHostTitle, host.Id());
                      ASSERT_NE(w, nullptr) << DriverError();
                      if (!BringToFront(local)) {
                          refused = true;
                          ASSERT_TRUE(CloseBox(w)) << DriverError();
                      } else if (AltF4(w)) {
                          exitCode = host.WaitExit(kWaitMs);
                      } else {
                          refused = GetForegroundWindow() != w;
                          ASSERT_TRUE(refused) << DriverError();
                          ASSERT_TRUE(CloseBox(w)) << DriverError();
                      }
                      ASSERT_TRUE(CloseBox(local)) << DriverError();
                      EXPECT_TRUE(WaitGone(local)) << DriverError();
                  },
                  30000);
    if (refused) GTEST_SKIP() << "this system does not let the test move the foreground";
    EXPECT_EQ(exitCode, std::optional<DWORD>(51));
}
