// The agent's entry: the command-line switches, or one resident agent per machine.
#include <windows.h>

#include <cstring>
#include <string_view>

#include "agent/agent.h"
#include "common/vb_lock.h"
#include "protection/enforce.h"
#include "protection/hosts.h"

namespace {

// A word of the command line, not part of one: "--stopped" is no "--stop".
bool HasSwitch(const char* commandLine, std::string_view name) noexcept {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\0'; };
    for (const char* at = commandLine; at != nullptr && (at = std::strstr(at, name.data()));
         at += name.size()) {
        if ((at == commandLine || blank(at[-1])) && blank(at[name.size()])) return true;
    }
    return false;
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
           GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

int RunAgent(HINSTANCE instance) noexcept {
    HWND running = nullptr;
    if (!VbTakeInstanceGuard(&running)) {
        // A second start (the Start-menu shortcut, a double-click) opens the running
        // agent's settings; its window may take the foreground. An agent in another
        // session has no window here: nothing to open.
        if (running == nullptr) return 0;
        DWORD processId = 0;
        GetWindowThreadProcessId(running, &processId);
        AllowSetForegroundWindow(processId);
        PostMessageW(running, RegisterWindowMessageW(ShowSettingsMessage), 0, 0);
        return 0;
    }
    HWND tray = VbStartTray(instance);
    if (tray == nullptr) return 1;
    // Only an administrator's session keeps the agent, once its first run is done. In
    // any other (a parent installing over a child's shoulder), the service protects,
    // and an agent would leave the child the password prompt.
    if (!VbSessionUserIsAdmin()) DestroyWindow(tray);
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    LoadLibrariesFromSystemOnly();
    // Only the service control manager starts the service; started by hand, it
    // does nothing, elevated or not.
    if (HasSwitch(commandLine, "--service")) return VbRunService();
    const bool revert = HasSwitch(commandLine, "--revert");
    const bool uninstall = HasSwitch(commandLine, "--uninstall");
    const bool stop = HasSwitch(commandLine, "--stop");
    const bool install = HasSwitch(commandLine, "--install-service");
    const bool start = HasSwitch(commandLine, "--start-service");
    const bool setup = HasSwitch(commandLine, "--setup");
    // Without elevation nothing can be done, and a switch's caller is told so.
    if (!IsElevated())
        return revert || uninstall || install || start || setup ? kRefused
               : stop                                           ? kStillRunning
                                                                : kDone;
    if (revert) {
        VbMachineLock lock;
        VbPassReport report = {};
        VbRevertDnsAndLock(report);
        bool cleared = VbClearHostsBlock() != 0;
        return !report.dnsFailed && !report.lockFailed && cleared ? kDone : kIncomplete;
    }
    if (install) return VbInstallService();
    // A stop that an uninstall or a setup gave up on may still be under way.
    if (start) return VbStartServiceOnceStopped(10 * 60 * 1000) ? kDone : kIncomplete;
    if (setup) return VbPrepareSetup(instance, !HasSwitch(commandLine, "--silent"));
    if (uninstall) return VbUninstall(instance);
    if (stop) return VbStopRunningAgent();
    return RunAgent(instance);
}
