// The agent's process: one instance per machine, a hidden tray window whose
// 60-second timer keeps the protections in force, and the "--revert" switch.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "common/vb_handle.h"
#include "config/config.h"
#include "protection/dns.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "resources/resource.h"
#include "ui/ui.h"

namespace {

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT_PTR IDT_ENFORCE = 3001;
constexpr UINT IDM_SETTINGS = 2001;
constexpr UINT IDM_QUIT = 2002;
constexpr UINT kEnforcePeriodMs = 60000;
constexpr wchar_t kTrayClass[] = L"VBTrayWnd";
constexpr wchar_t kMutexName[] = L"Global\\VellumbrookAgentMutex";

// The full record of the current headers; version 4 would change the callback's lParam.
static_assert(sizeof(NOTIFYICONDATAW) == 976);
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);

NOTIFYICONDATAW g_nid;
// Explorer broadcasts it when it restarts, having forgotten every tray icon.
UINT g_taskbarCreated = 0;

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

// The tip says what the configuration asks for; an unreadable one changes nothing.
void UpdateTip() noexcept {
    VbConfig config;
    if (!VbLoadConfig(&config)) return;
    lstrcpynW(g_nid.szTip,
              config.enabled ? L"Vellumbrook - protection active"
                             : L"Vellumbrook - protection désactivée",
              ARRAYSIZE(g_nid.szTip));
}

// The icon as g_nid describes it; an icon whose first NIM_ADD failed (Explorer was
// not ready yet) is added now.
void RefreshTrayIcon() noexcept {
    if (!Shell_NotifyIconW(NIM_MODIFY, &g_nid)) Shell_NotifyIconW(NIM_ADD, &g_nid);
}

void EnforceNow() noexcept {
    VbEnforceFromConfig();
    UpdateTip();
}

LRESULT OnCreate(HWND window) noexcept {
    FillTrayIcon(window);
    AllowTaskbarCreated(window);
    Shell_NotifyIconW(NIM_ADD, &g_nid);
    EnforceNow();
    Shell_NotifyIconW(NIM_MODIFY, &g_nid);
    SetTimer(window, IDT_ENFORCE, kEnforcePeriodMs, nullptr);
    return 0;
}

LRESULT OnTimer(WPARAM timer) noexcept {
    if (timer != IDT_ENFORCE) return 0;
    EnforceNow();
    RefreshTrayIcon();
    return 0;
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

void OpenSettings(HWND window) noexcept {
    VbShowSettingsFlow(window);
    // The settings may have switched protection on or off.
    UpdateTip();
    RefreshTrayIcon();
}

LRESULT OnTrayIcon(HWND window, LPARAM event) noexcept {
    switch (LOWORD(event)) {
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
            ShowTrayMenu(window);
            break;
        case WM_LBUTTONDBLCLK:
            OpenSettings(window);
            break;
    }
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM command) noexcept {
    switch (LOWORD(command)) {
        case IDM_SETTINGS:
            OpenSettings(window);
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

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_TIMER:
            return OnTimer(wParam);
        case WM_TRAYICON:
            return OnTrayIcon(window, lParam);
        case WM_COMMAND:
            return OnCommand(window, wParam);
        case WM_DESTROY:
            return OnDestroy();
        default:
            if (message == g_taskbarCreated && g_taskbarCreated != 0) {
                Shell_NotifyIconW(NIM_ADD, &g_nid);
                return 0;
            }
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunAgent(HINSTANCE instance, const char* commandLine) noexcept {
    if (commandLine != nullptr && std::strstr(commandLine, "--revert") != nullptr) {
        VbRevertDns();
        VbClearHostsBlock();
        return 0;
    }

    VbUniqueHandle mutex(CreateMutexW(nullptr, TRUE, kMutexName));
    // Another agent runs, or the mutex cannot be had: leave silently.
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 0;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    VbUiInit(instance);
    // Made (or taken back) before anything reads it, so that no standard user owns it.
    VbEnsureConfigDir();

    g_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    WNDCLASSW trayClass = {};
    trayClass.lpfnWndProc = TrayWndProc;
    trayClass.hInstance = instance;
    trayClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    trayClass.lpszClassName = kTrayClass;
    RegisterClassW(&trayClass);
    HWND tray = CreateWindowExW(0, kTrayClass, L"Vellumbrook", 0, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
    if (tray == nullptr) {
        ReleaseMutex(mutex.Get());
        return 1;
    }

    // First run: the parent chooses a password before anything else. An unreadable
    // configuration is not a first run.
    VbConfig config;
    if (VbLoadConfig(&config) && !config.hasPassword) OpenSettings(tray);

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ReleaseMutex(mutex.Get());
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return RunAgent(instance, commandLine);
}
