// The agent's entry: the command-line switches, or one resident agent per machine.
#include <windows.h>

#include <cstring>

#include "agent/agent.h"
#include "protection/dns.h"
#include "protection/hosts.h"

namespace {

bool HasSwitch(const char* commandLine, const char* name) noexcept {
    return commandLine != nullptr && std::strstr(commandLine, name) != nullptr;
}

// The agent runs elevated: DLLs are loaded from the system directory only, never
// from the folder it was started from. Looked up, not imported: Windows 7 before
// its update KB2533623 does not have it.
void LoadLibrariesFromSystemOnly() noexcept {
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto set = reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// A copy started without elevation (a standard user can force that) could do
// nothing but stand in the way of the real agent.
bool IsElevated() noexcept {
    VbUniqueHandle token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()) &&
           GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation,
                               &size) &&
           elevation.TokenIsElevated != 0;
}

int RunAgent(HINSTANCE instance) noexcept {
    VbInstanceGuard guard;
    HWND running = nullptr;
    if (!VbTakeInstanceGuard(guard, &running)) {
        // A second start (the Start-menu shortcut, a double-click) opens the running
        // agent's settings; its window may take the foreground.
        DWORD processId = 0;
        GetWindowThreadProcessId(running, &processId);
        AllowSetForegroundWindow(processId);
        PostMessageW(running, RegisterWindowMessageW(ShowSettingsMessage), 0, 0);
        return 0;
    }
    if (VbStartTray(instance) == nullptr) return 1;
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (guard.mutex) ReleaseMutex(guard.mutex.Get());
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    LoadLibrariesFromSystemOnly();
    if (!IsElevated()) return 0;
    if (HasSwitch(commandLine, "--revert")) {
        VbRevertDns();
        VbClearHostsBlock();
        return 0;
    }
    if (HasSwitch(commandLine, "--uninstall")) return VbUninstall(instance);
    if (HasSwitch(commandLine, "--stop")) return VbStopRunningAgent();
    return RunAgent(instance);
}
