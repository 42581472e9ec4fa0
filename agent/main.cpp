// The agent's process: one instance per machine, a hidden tray window whose
// 60-second timer keeps the protections in force, and the "--revert" switch.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "config/config.h"
#include "protection/dns.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "resources/resource.h"
#include "ui/ui.h"

namespace {

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT_PTR IDT_ENFORCE = 3001;
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

LRESULT OnCreate(HWND window) noexcept {
    FillTrayIcon(window);
    AllowTaskbarCreated(window);
    Shell_NotifyIconW(NIM_ADD, &g_nid);
    VbEnforceFromConfig();
    SetTimer(window, IDT_ENFORCE, kEnforcePeriodMs, nullptr);
    return 0;
}

LRESULT OnTimer(WPARAM timer) noexcept {
    if (timer != IDT_ENFORCE) return 0;
    VbEnforceFromConfig();
    // An icon whose first NIM_ADD failed (Explorer was not ready yet) is added now.
    if (!Shell_NotifyIconW(NIM_MODIFY, &g_nid)) Shell_NotifyIconW(NIM_ADD, &g_nid);
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

    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    DWORD mutexError = GetLastError();
    if (mutex == nullptr) return 0;
    if (mutexError == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;  // another agent runs: leave silently
    }

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
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return 1;
    }

    // First run: the access flow opens here when no password is set yet.

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return RunAgent(instance, commandLine);
}
