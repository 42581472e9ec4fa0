// The look and the modal life shared by every window of the agent: a dark header
// band with the icon and a title, a pale body, and a loop that keeps the window
// modal while the tray window's timer goes on.
#include <windows.h>

#include "resources/resource.h"
#include "ui/ui_internal.h"

namespace {

// Made once, kept for the life of the process.
HINSTANCE g_hInst = nullptr;
HBRUSH g_bgBrush = nullptr;
HBRUSH g_headerBrush = nullptr;
HFONT g_bodyFont = nullptr;
HFONT g_headerFont = nullptr;
HICON g_headerIcon = nullptr;

HFONT MakeFont(int height, int weight) noexcept {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

}  // namespace

void VbUiInit(HINSTANCE instance) noexcept {
    g_hInst = instance;
    static bool done = false;
    if (done) return;
    done = true;
    g_bgBrush = CreateSolidBrush(BodyColour);
    g_headerBrush = CreateSolidBrush(HeaderColour);
    g_bodyFont = MakeFont(-15, FW_NORMAL);
    g_headerFont = MakeFont(-20, FW_SEMIBOLD);
    g_headerIcon = static_cast<HICON>(
        LoadImageW(g_hInst, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
}

HWND AddControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style,
                DWORD exStyle, int x, int y, int width, int height, int id) noexcept {
    HWND control =
        CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_hInst, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_bodyFont), TRUE);
    return control;
}

void AddHeader(HWND window, int windowWidth, const wchar_t* title) noexcept {
    HWND icon = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ICON, 16, 12, 32, 32,
                                window, reinterpret_cast<HMENU>(IDC_HEADER_ICON), g_hInst, nullptr);
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(g_headerIcon), 0);
    HWND caption =
        CreateWindowExW(0, L"STATIC", title, WS_CHILD | WS_VISIBLE, 58, 16, windowWidth - 74, 24,
                        window, reinterpret_cast<HMENU>(IDC_HEADER_TITLE), g_hInst, nullptr);
    SendMessageW(caption, WM_SETFONT, reinterpret_cast<WPARAM>(g_headerFont), TRUE);
}

void PaintThemedBackground(HWND window, HDC dc) noexcept {
    RECT client;
    GetClientRect(window, &client);
    RECT header = client;
    header.bottom = HeaderHeight;
    FillRect(dc, &header, g_headerBrush);
    RECT body = client;
    body.top = HeaderHeight;
    FillRect(dc, &body, g_bgBrush);
}

HBRUSH HandleCtlColorStatic(HWND statusLine, HDC dc, HWND control, COLORREF statusColour) noexcept {
    int id = GetDlgCtrlID(control);
    SetBkMode(dc, TRANSPARENT);
    // Decided on the id alone, before anything else.
    if (id == IDC_HEADER_ICON || id == IDC_HEADER_TITLE) {
        SetTextColor(dc, HeaderTextColour);
        return g_headerBrush;
    }
    SetTextColor(dc, statusLine != nullptr && control == statusLine ? statusColour : TextColour);
    return g_bgBrush;
}

LRESULT ModalWindowDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam, HWND statusLine,
                           COLORREF statusColour) noexcept {
    switch (message) {
        case WM_ERASEBKGND:
            PaintThemedBackground(window, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(
                HandleCtlColorStatic(statusLine, reinterpret_cast<HDC>(wParam),
                                     reinterpret_cast<HWND>(lParam), statusColour));
        case WM_DESTROY:
            // The modal loop may wait in GetMessageW while the window is destroyed by a
            // message sent from another thread or process, which does not wake it; a
            // posted one does.
            PostMessageW(nullptr, WM_NULL, 0, 0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void RunModalLoop(HWND owner, HWND window) noexcept {
    if (owner != nullptr) EnableWindow(owner, FALSE);
    MSG message;
    while (IsWindow(window)) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // The window must not outlive the state record of the frame that waits
            // here, and the outer loop must see the quit too.
            DestroyWindow(window);
            if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (owner != nullptr) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
}

void CloseModalWindow(HWND window) noexcept {
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) EnableWindow(owner, TRUE);
    DestroyWindow(window);
}

void RunModalWindow(const ModalWindowKind& kind, HWND owner, void* state) noexcept {
    if (!*kind.registered) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = kind.procedure;
        windowClass.hInstance = g_hInst;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = g_bgBrush;
        windowClass.lpszClassName = kind.className;
        RegisterClassW(&windowClass);
        *kind.registered = true;
    }
    // WS_POPUPWINDOW | WS_DLGFRAME: a captioned popup with a close box only.
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, kind.className, kind.caption,
                                  WS_POPUPWINDOW | WS_DLGFRAME, 0, 0, kind.width, kind.height,
                                  owner, nullptr, g_hInst, state);
    int x = (GetSystemMetrics(SM_CXSCREEN) - kind.width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - kind.height) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    BringWindowToTop(window);
    RunModalLoop(owner, window);
}
