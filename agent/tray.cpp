// The hidden tray window: its icon and tip, the 60-second timer that keeps the
// protections in force, the menu, and the messages of a second start.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "agent/agent.h"
#include "config/config.h"
#include "protection/enforce.h"
#include "resources/resource.h"
#include "ui/ui.h"
#include "ui/ui_text.h"

namespace {

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT_PTR IDT_ENFORCE = 3001;
constexpr UINT IDM_SETTINGS = 2001;
constexpr UINT IDM_QUIT = 2002;
constexpr UINT kEnforcePeriodMs = 60000;

// The full record of the current headers; version 4 would change the callback's lParam.
static_assert(sizeof(NOTIFYICONDATAW) == 976);
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
static_assert(sizeof(char16_t) == sizeof(wchar_t));

NOTIFYICONDATAW g_nid;
// Explorer broadcasts it when it restarts, having forgotten every tray icon.
UINT g_taskbarCreated = 0;
UINT g_showSettings = 0;
UINT g_quit = 0;

void FillTrayIcon(HWND window) noexcept {
    std::memset(&g_nid, 0, sizeof g_nid);
    g_nid.cbSize = sizeof g_nid;
    g_nid.hWnd = window;
    g_nid.uID = 1;
    g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_nid.uCallbackMessage = WM_TRAYICON;
    g_nid.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    lstrcpynW(g_nid.szTip, L"Vellumbrook - protection active", ARRAYSIZE(g_nid.szTip));
}

// The agent runs elevated and Explorer does not: without this the integrity
// filter drops Explorer's "TaskbarCreated" on its way to the tray window.
void AllowTaskbarCreated(HWND window) noexcept {
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
    // Looked up, not imported: Windows Vista does not have it.
    auto filter = reinterpret_cast<FilterFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
    if (filter != nullptr) filter(window, g_taskbarCreated, MSGFLT_ALLOW, nullptr);
}

// The icon as g_nid describes it; an icon whose first NIM_ADD failed (Explorer was
// not ready yet) is added now.
void RefreshTrayIcon() noexcept {
    if (!Shell_NotifyIconW(NIM_MODIFY, &g_nid)) Shell_NotifyIconW(NIM_ADD, &g_nid);
}

// The tip says what the last pass really did.
void ShowPassOutcome(const VbPassReport& report) noexcept {
    lstrcpynW(g_nid.szTip, reinterpret_cast<const wchar_t*>(TrayTipFor(report)),
              ARRAYSIZE(g_nid.szTip));
    RefreshTrayIcon();
}

void EnforceNow() noexcept {
    VbPassReport report;
    VbEnforceFromConfig(&report);
    ShowPassOutcome(report);
}

void ShowTrayMenu(HWND window) noexcept {
    POINT cursor;
    GetCursorPos(&cursor);
    VbUniqueMenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuW(menu.Get(), MF_STRING, IDM_SETTINGS, L"Paramètres…");
    AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.Get(), MF_STRING, IDM_QUIT, L"Quitter");
    // The window must be foreground, or the menu does not close when the user
    // clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(menu.Get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    // Without a message after it, the menu may fail to close or to open again.
    PostMessageW(window, WM_NULL, 0, 0);
}

LRESULT OnCreate(HWND window) noexcept {
    FillTrayIcon(window);
    AllowTaskbarCreated(window);
    Shell_NotifyIconW(NIM_ADD, &g_nid);
    return 0;
}

LRESULT OnTrayIcon(HWND window, LPARAM event) noexcept {
    switch (LOWORD(event)) {
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
            ShowTrayMenu(window);
            break;
        case WM_LBUTTONDBLCLK:
            VbShowSettingsFlow(window);
            break;
    }
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM command) noexcept {
    switch (LOWORD(command)) {
        case IDM_SETTINGS:
            VbShowSettingsFlow(window);
            break;
        case IDM_QUIT:
            if (VbConfirmPasswordForExit(window)) DestroyWindow(window);
            break;
    }
    return 0;
}

LRESULT OnDestroy() noexcept {
    Shell_NotifyIconW(NIM_DELETE, &g_nid);
    PostQuitMessage(0);
    return 0;
}

LRESULT OnOtherMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == g_taskbarCreated && g_taskbarCreated != 0) {
        Shell_NotifyIconW(NIM_ADD, &g_nid);
        return 0;
    }
    if (message == g_showSettings && g_showSettings != 0) {
        VbShowSettingsFlow(window);
        return 0;
    }
    // The uninstaller or an update: it leaves as after "Quitter", without asking
    // again (the uninstaller asked for the password itself).
    if (message == g_quit && g_quit != 0) {
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_TIMER:
            if (wParam == IDT_ENFORCE) EnforceNow();
            return 0;
        case WM_TRAYICON:
            return OnTrayIcon(window, lParam);
        case WM_COMMAND:
            return OnCommand(window, wParam);
        case VbPassReportedMessage:
            ShowPassOutcome(VbUnpackPassReport(static_cast<unsigned>(wParam)));
            return 0;
        case WM_DESTROY:
            return OnDestroy();
        default:
            return OnOtherMessage(window, message, wParam, lParam);
    }
}

}  // namespace

HWND VbStartTray(HINSTANCE instance) noexcept {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    VbUiInit(instance);

    g_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    g_showSettings = RegisterWindowMessageW(ShowSettingsMessage);
    g_quit = RegisterWindowMessageW(QuitMessage);
    WNDCLASSW trayClass = {};
    trayClass.lpfnWndProc = TrayWndProc;
    trayClass.hInstance = instance;
    trayClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    trayClass.lpszClassName = TrayClassName;
    RegisterClassW(&trayClass);
    HWND tray = CreateWindowExW(0, TrayClassName, L"Vellumbrook", 0, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
    if (tray == nullptr) return nullptr;
    // The first pass, with the folder's checks, runs once the window exists, so that
    // a second start finds the running agent even while its first netsh commands
    // run; the period counts from its end.
    EnforceNow();
    SetTimer(tray, IDT_ENFORCE, kEnforcePeriodMs, nullptr);

    // First run: the parent chooses a password before anything else. An unreadable
    // configuration is not a first run.
    VbConfig config;
    if (VbLoadSecuredConfig(&config) && !config.hasPassword) VbShowSettingsFlow(tray);
    return tray;
}
