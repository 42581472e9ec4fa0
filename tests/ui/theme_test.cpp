// The shared look and the modal loop, on real windows.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ui/ui_internal.h"

namespace {

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

constexpr UINT WM_TEST_DESTROY = WM_APP + 7;
constexpr UINT WM_TEST_LATER = WM_APP + 8;

// A modal window as the agent's are made: closes through CloseModalWindow and
// wakes the loop when it is destroyed.
LRESULT CALLBACK TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_TEST_DESTROY:
            DestroyWindow(window);
            return 0;
        case WM_CLOSE:
            CloseModalWindow(window);
            return 0;
        default:
            return ModalWindowDefault(window, message, wParam, lParam);
    }
}

HWND MakeWindow(HWND owner = nullptr) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = TestProc;
        windowClass.hInstance = Instance();
        windowClass.lpszClassName = L"VBThemeTestWnd";
        RegisterClassW(&windowClass);
        registered = true;
    }
    return CreateWindowExW(0, L"VBThemeTestWnd", L"test", WS_POPUPWINDOW | WS_DLGFRAME, 10, 10, 320,
                           190, owner, nullptr, Instance(), nullptr);
}

COLORREF BrushColour(HBRUSH brush) {
    LOGBRUSH info = {};
    GetObjectW(brush, sizeof info, &info);
    return info.lbColor;
}

void DrainQueue() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

class Theme : public testing::Test {
protected:
    static void SetUpTestSuite() { VbUiInit(Instance()); }
    void TearDown() override { DrainQueue(); }
};

}  // namespace

TEST_F(Theme, SecondInitCreatesNothingNew) {
    DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    VbUiInit(Instance());
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), before);
}

TEST_F(Theme, StaticColoursFollowTheIdAndTheStatusLine) {
    HWND window = MakeWindow();
    AddHeader(window, 320, L"Vellumbrook");
    HWND title = GetDlgItem(window, IDC_HEADER_TITLE);
    HWND icon = GetDlgItem(window, IDC_HEADER_ICON);
    HWND label = AddControl(window, L"STATIC", L"Mot de passe :", WS_CHILD | WS_VISIBLE, 0, 24, 70,
                            272, 20, 0);
    HWND status = AddControl(window, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 24, 96, 272, 20, 0);
    ASSERT_TRUE(title && icon && label && status);

    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(BrushColour(HandleCtlColorStatic(nullptr, dc, title)), HeaderColour);
    EXPECT_EQ(GetTextColor(dc), RGB(255, 255, 255));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(BrushColour(HandleCtlColorStatic(status, dc, icon)), HeaderColour);
    EXPECT_EQ(GetTextColor(dc), RGB(255, 255, 255));

    EXPECT_EQ(BrushColour(HandleCtlColorStatic(status, dc, label)), BodyColour);
    EXPECT_EQ(GetTextColor(dc), RGB(28, 36, 52));
    EXPECT_EQ(BrushColour(HandleCtlColorStatic(status, dc, status)), BodyColour);
    EXPECT_EQ(GetTextColor(dc), RGB(10, 143, 89));
    // Without a status line nothing turns green, the empty-id status static included.
    HandleCtlColorStatic(nullptr, dc, status);
    EXPECT_EQ(GetTextColor(dc), RGB(28, 36, 52));
    HandleCtlColorStatic(status, dc, status, RGB(180, 35, 24));
    EXPECT_EQ(GetTextColor(dc), RGB(180, 35, 24));
    DeleteDC(dc);

    RECT rect;
    GetWindowRect(title, &rect);
    EXPECT_EQ(rect.right - rect.left, 320 - 74);
    DestroyWindow(window);
}

TEST_F(Theme, HeaderBandIsTheTop56Pixels) {
    HWND window = MakeWindow();
    RECT client;
    GetClientRect(window, &client);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PaintThemedBackground(window, dc);
    EXPECT_EQ(GetPixel(dc, 5, 0), HeaderColour);
    EXPECT_EQ(GetPixel(dc, 5, 55), HeaderColour);
    EXPECT_EQ(GetPixel(dc, 5, 56), BodyColour);
    EXPECT_EQ(GetPixel(dc, client.right - 1, client.bottom - 1), BodyColour);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DestroyWindow(window);
}

TEST_F(Theme, LoopWithoutOwnerEnablesNothingAndKeepsTheForeground) {
    HWND other = MakeWindow();
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
    HWND before = GetForegroundWindow();
    HWND window = MakeWindow();
    PostMessageW(window, WM_TEST_DESTROY, 0, 0);
    RunModalLoop(nullptr, window);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetForegroundWindow(), before);
    EXPECT_TRUE(IsWindowEnabled(other));
    DestroyWindow(other);
}

TEST_F(Theme, OwnerIsDisabledWhileTheWindowLivesAndEnabledAfter) {
    HWND owner = MakeWindow();
    HWND window = MakeWindow(owner);
    BOOL enabledDuring = TRUE;
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        enabledDuring = IsWindowEnabled(owner);
        PostMessageW(window, WM_TEST_DESTROY, 0, 0);
    });
    RunModalLoop(owner, window);
    closer.join();
    EXPECT_FALSE(enabledDuring);
    EXPECT_TRUE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

TEST_F(Theme, WindowDestroyedByAHandlerEndsTheLoopBeforeTheNextMessage) {
    HWND window = MakeWindow();
    PostMessageW(window, WM_TEST_DESTROY, 0, 0);
    PostThreadMessageW(GetCurrentThreadId(), WM_TEST_LATER, 0, 0);
    RunModalLoop(nullptr, window);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_TEST_LATER, WM_TEST_LATER, PM_REMOVE));
}

TEST_F(Theme, QuitDestroysTheWindowAndIsPostedAgain) {
    HWND window = MakeWindow();
    PostQuitMessage(7);
    RunModalLoop(nullptr, window);
    EXPECT_FALSE(IsWindow(window));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

TEST_F(Theme, WindowClosedFromAnotherThreadEndsTheLoopAtOnce) {
    HWND window = MakeWindow();
    std::thread closer([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Sent, not posted: handled inside GetMessageW, which only a posted message wakes.
        SendMessageW(window, WM_CLOSE, 0, 0);
    });
    // Wakes a loop that would otherwise wait forever, so the test fails instead of hanging.
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD mainThread = GetCurrentThreadId();
    std::thread rescue([done, mainThread] {
        if (WaitForSingleObject(done, 5000) == WAIT_TIMEOUT)
            PostThreadMessageW(mainThread, WM_NULL, 0, 0);
    });
    auto start = std::chrono::steady_clock::now();
    RunModalLoop(nullptr, window);
    auto elapsed = std::chrono::steady_clock::now() - start;
    SetEvent(done);
    closer.join();
    rescue.join();
    CloseHandle(done);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}
