// vb_bench_tray.exe: the least a tray program can be, the yardstick for the
// agent's memory, handles, GDI objects, idle processor time and file size. One
// hidden window and one notification-area icon, built with the agent's toolchain,
// definitions and link options. WM_CLOSE ends it. WM_APP + 2 opens and closes
// windows of the kinds that a window round of the agent opens, so that what the
// platform keeps per window shows in the baseline too.
#include <windows.h>
#include <shellapi.h>

#include <initializer_list>

namespace {

NOTIFYICONDATAW g_icon;
wchar_t g_sites[64 * 257 + 1];  // 64 names of 255 letters, one a line

// The windows of a round of the agent: set-password (two password boxes), settings
// (-1: a check box and the list of sites), enter-password (one box), set-password.
LRESULT OnOpenWindows() noexcept {
    for (int boxes : {2, -1, 1, 2}) {
        HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, L"#32770", L"vb_bench_tray",
                                      WS_POPUPWINDOW | WS_DLGFRAME, 100, 100, 480, 400, nullptr,
                                      nullptr, nullptr, nullptr);
        // Boxes of one line, but the list at y = 126.
        auto add = [window](const wchar_t* kind, const wchar_t* text, DWORD style, int y) {
            CreateWindowExW(WS_EX_CLIENTEDGE, kind, text, WS_CHILD | WS_VISIBLE | style, 24, y, 292,
                            y == 126 ? 160 : 26, window, nullptr, nullptr, nullptr);
        };
        add(L"BUTTON", L"OK", BS_DEFPUSHBUTTON, 300);
        add(L"BUTTON", L"Annuler", 0, 340);
        for (int i = 0; i < boxes; ++i)
            add(L"EDIT", L"bench-password", ES_PASSWORD | ES_AUTOHSCROLL, 92 + 40 * i);
        if (boxes < 0) add(L"BUTTON", L"Protection", BS_AUTOCHECKBOX, 70);
        if (boxes < 0) add(L"EDIT", g_sites, ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, 126);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        DestroyWindow(window);
    }
    return 0;
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_APP + 2:
            return OnOpenWindows();
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
    for (int i = 0; i < 64 * 257; ++i)
        g_sites[i] = i % 257 == 255 ? L'\r' : i % 257 == 256 ? L'\n' : L'a' + i / 257 % 26;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TrayProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"VBBenchTrayWnd";
    RegisterClassW(&windowClass);
    g_icon.cbSize = sizeof g_icon;
    g_icon.hWnd = CreateWindowExW(0, L"VBBenchTrayWnd", L"vb_bench_tray", 0, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    g_icon.uID = 1;
    g_icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_icon.uCallbackMessage = WM_APP + 1;
    g_icon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);  // shared: never destroyed
    lstrcpynW(g_icon.szTip, L"vb_bench_tray", ARRAYSIZE(g_icon.szTip));
    if (g_icon.hWnd == nullptr) return 1;
    Shell_NotifyIconW(NIM_ADD, &g_icon);  // as the agent, carries on without a notification area
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
