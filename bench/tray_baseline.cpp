// vb_bench_tray.exe: the least a tray program can be, the yardstick for the
// agent's memory, handles, objects, idle processor time and file size. One hidden
// window and one notification-area icon, built with the agent's toolchain,
// definitions and link options; no timer, no resources, no common controls.
//
// While the agent's windows are opened and closed, the benchmark asks this
// program, by a sent WM_APP + 2, to open and close a window of the same kind
// (wParam: 0 a password box, 1 two password boxes, 2 a check box and a
// multi-line box holding 64 names of 255 characters, 3 a popup menu), so that
// what the platform itself keeps per window shows beside the agent's figures.
// WM_CLOSE ends it.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

namespace {

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT WM_OPEN_WINDOW = WM_APP + 2;
constexpr wchar_t kPopupClass[] = L"VBBenchPopupWnd";
NOTIFYICONDATAW g_icon;

HWND Add(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int y,
         int height) {
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 24, y, 292, height,
                           parent, nullptr, nullptr, nullptr);
}

void OpenAndClose(WPARAM kind) {
    if (kind == 3) {
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING, 1, L"Paramètres…");
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, 2, L"Quitter");
        DestroyMenu(menu);
        return;
    }
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, kPopupClass, L"vb_bench_tray",
                                  WS_POPUPWINDOW | WS_DLGFRAME, 100, 100, 480, 400, nullptr,
                                  nullptr, nullptr, nullptr);
    if (window == nullptr) return;
    Add(window, L"STATIC", L"", SS_ICON, 12, 32);
    Add(window, L"BUTTON", L"OK", BS_DEFPUSHBUTTON, 300, 30);
    Add(window, L"BUTTON", L"Annuler", 0, 340, 30);
    if (kind == 2) {
        Add(window, L"BUTTON", L"Protection", BS_AUTOCHECKBOX, 70, 24);
        // Plain arrays, not std::wstring: the file's size is a yardstick too.
        static wchar_t sites[64 * 257 + 1];
        wchar_t* at = sites;
        for (int i = 0; i < 64; ++i) {
            for (int j = 0; j < 255; ++j)
                *at++ = static_cast<wchar_t>(L'a' + i % 26);
            *at++ = L'\r';
            *at++ = L'\n';
        }
        *at = L'\0';
        HWND list = Add(window, L"EDIT", L"", ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, 126, 160);
        SetWindowTextW(list, sites);
    } else {
        for (WPARAM i = 0; i <= kind; ++i)
            SetWindowTextW(Add(window, L"EDIT", L"", ES_PASSWORD | ES_AUTOHSCROLL,
                               92 + 56 * static_cast<int>(i), 26),
                           L"bench-password");
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    DestroyWindow(window);
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_CREATE:
            std::memset(&g_icon, 0, sizeof g_icon);
            g_icon.cbSize = sizeof g_icon;
            g_icon.hWnd = window;
            g_icon.uID = 1;
            g_icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
            g_icon.uCallbackMessage = WM_TRAYICON;
            // A shared system icon: never destroyed.
            g_icon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
            lstrcpynW(g_icon.szTip, L"vb_bench_tray", ARRAYSIZE(g_icon.szTip));
            Shell_NotifyIconW(NIM_ADD, &g_icon);
            return 0;
        case WM_OPEN_WINDOW:
            OpenAndClose(wParam);
            return 0;
        case WM_DESTROY:
            Shell_NotifyIconW(NIM_DELETE, &g_icon);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TrayProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"VBBenchTrayWnd";
    RegisterClassW(&windowClass);
    WNDCLASSW popupClass = {};
    popupClass.lpfnWndProc = DefWindowProcW;
    popupClass.hInstance = instance;
    popupClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    popupClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    popupClass.lpszClassName = kPopupClass;
    RegisterClassW(&popupClass);
    if (CreateWindowExW(0, L"VBBenchTrayWnd", L"vb_bench_tray", 0, 0, 0, 0, 0, nullptr, nullptr,
                        instance, nullptr) == nullptr)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
