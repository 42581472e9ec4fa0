// Giving the machine back: "--stop" ends the running agent (an update replaces
// its files), "--uninstall" does that after the parent's password and takes away
// the logon task, the protections and the agent's data.
#include <windows.h>
#include <commctrl.h>

#include <iterator>

#include "agent/agent.h"
#include "config/config.h"
#include "protection/dns.h"
#include "protection/dohlock.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "protection/procutil.h"
#include "ui/ui.h"
#include "ui/ui_text.h"

namespace {

// The agent may be in the middle of a pass, whose netsh commands take their time.
constexpr DWORD kStopWaitMs = 30000;

}  // namespace

int VbStopRunningAgent() noexcept {
    HWND tray = VbFindRunningAgent(0);
    if (tray == nullptr) return kDone;
    DWORD processId = 0;
    GetWindowThreadProcessId(tray, &processId);
    VbUniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    PostMessageW(tray, RegisterWindowMessageW(QuitMessage), 0, 0);
    // Its files may be replaced only once the process is gone, not just its window.
    return process && WaitForSingleObject(process.Get(), kStopWaitMs) == WAIT_OBJECT_0
               ? kDone
               : kStillRunning;
}

int VbUninstall(HINSTANCE instance) noexcept {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    VbUiInit(instance);
    // Taken back first, as at the agent's start: what a standard user planted there
    // is neither asked for its password nor followed by the removal below.
    bool secured = VbEnsureConfigDir() != 0;
    // The same question as for "Quitter"; nothing has changed when it is refused.
    if (!VbConfirmPasswordForExit(nullptr)) return kRefused;
    if (VbStopRunningAgent() != kDone) {
        MessageBoxW(nullptr, L"Vellumbrook ne s'est pas arrêté. Réessayez dans un instant.",
                    L"Vellumbrook", MB_OK | MB_ICONWARNING);
        return kStillRunning;
    }

    wchar_t removeTask[] = L"schtasks /Delete /TN Vellumbrook /F";
    wchar_t queryTask[] = L"schtasks /Query /TN Vellumbrook";
    bool taskRemoved = VbRunHidden(removeTask) || !VbRunHidden(queryTask);
    // As a pass with protection off does, but the browser policies go too, so that
    // no browser stays "managed by your organization".
    VbPassReport report = {1, 0, 0, 0, 0};
    int dnsComplete = 0;
    VbRevertDns(&dnsComplete);
    report.dnsFailed = !dnsComplete;
    report.hostsFailed = !VbClearHostsBlock();
    report.browsersFailed = !VbRevertBrowserDohLockdown();
    bool removed = secured && VbRemoveConfigDir() != 0;
    if (!PassIncomplete(report) && removed && taskRemoved) return kDone;

    wchar_t text[256];
    DescribeUninstall(report, removed, taskRemoved,
                      {reinterpret_cast<char16_t*>(text), std::size(text)});
    MessageBoxW(nullptr, text, L"Vellumbrook", MB_OK | MB_ICONWARNING);
    return kIncomplete;
}
