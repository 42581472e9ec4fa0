// Giving the machine back: "--stop" ends the service and the tray agent (an
// update replaces their files); "--uninstall", after the parent's password,
// reverts the protections and only then takes away the logon task, the service
// and the agent's data. An uninstall that cannot revert everything asks first.
#include <windows.h>
#include <commctrl.h>

#include <iterator>

#include "agent/agent.h"
#include "common/vb_lock.h"
#include "config/config.h"
#include "protection/dns.h"
#include "protection/dohlock.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "protection/procutil.h"
#include "ui/ui.h"
#include "ui/ui_text.h"

namespace {

// Either may be in the middle of a pass, whose netsh commands take their time.
constexpr DWORD kStopWaitMs = 30000;

constexpr wchar_t kNotStoppedText[] = L"Vellumbrook ne s'est pas arrêté. Réessayez dans un instant.";
constexpr wchar_t kOtherSessionText[] =
    L"Vellumbrook fonctionne dans une autre session ouverte. Fermez cette session, puis "
    L"réessayez.";

void Warn(const wchar_t* text) noexcept {
    MessageBoxW(nullptr, text, L"Vellumbrook", MB_OK | MB_ICONWARNING);
}

// Ends the tray agent on this desktop; true once its process is gone (or none ran).
bool StopTray(bool& wasRunning) noexcept {
    HWND tray = VbFindRunningAgent(0);
    wasRunning = tray != nullptr;
    if (tray == nullptr) return true;
    DWORD processId = 0;
    GetWindowThreadProcessId(tray, &processId);
    VbUniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    PostMessageW(tray, RegisterWindowMessageW(QuitMessage), 0, 0);
    // Its files may be replaced only once the process is gone, not just its window.
    return process && WaitForSingleObject(process.Get(), kStopWaitMs) == WAIT_OBJECT_0;
}

// What an uninstall the parent called off stopped is started again.
void Resume(bool trayWasRunning, bool serviceWasRunning) noexcept {
    if (serviceWasRunning) VbStartService();
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!trayWasRunning || length == 0 || length >= MAX_PATH) return;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION agent = {};
    if (CreateProcessW(self, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &agent)) {
        CloseHandle(agent.hThread);
        CloseHandle(agent.hProcess);
    }
}

// "Oui" only: the default button is "Non", and the box has no other way out.
bool UninstallAnyway(const VbPassReport& report) noexcept {
    wchar_t text[256];
    DescribeRevertQuestion(report, {reinterpret_cast<char16_t*>(text), std::size(text)});
    return MessageBoxW(nullptr, text, L"Vellumbrook",
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

}  // namespace

int VbStopRunningAgent() noexcept {
    bool serviceRan = false;
    bool trayRan = false;
    bool serviceStopped = VbStopService(kStopWaitMs, serviceRan);
    bool trayStopped = StopTray(trayRan);
    return serviceStopped && trayStopped && !VbAgentInOtherSession() ? kDone : kStillRunning;
}

int VbUninstall(HINSTANCE instance) noexcept {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    VbUiInit(instance);
    // Nothing would be left to undo what an agent of another session keeps doing.
    if (VbAgentInOtherSession()) {
        Warn(kOtherSessionText);
        return kStillRunning;
    }
    // Taken back first, as on every pass: what a standard user planted there is
    // neither asked for its password nor followed by the removal below.
    bool secured = false;
    {
        VbMachineLock lock;
        secured = VbEnsureConfigDir() != 0;
    }
    // The same question as for "Quitter"; nothing has changed when it is refused.
    if (!VbConfirmPasswordForExit(nullptr)) return kRefused;

    bool serviceRan = false;
    bool trayRan = false;
    bool serviceStopped = VbStopService(kStopWaitMs, serviceRan);
    if (!serviceStopped || !StopTray(trayRan)) {
        Resume(false, serviceRan && serviceStopped);  // a tray agent that stays runs on
        Warn(kNotStoppedText);
        return kStillRunning;
    }

    // As a pass with protection off does, but the browser policies go too, so that
    // no browser stays "managed by your organization".
    VbPassReport report = {1, 0, 0, 0, 0};
    {
        VbMachineLock lock;
        int dnsComplete = 0;
        VbRevertDns(&dnsComplete);
        report.dnsFailed = !dnsComplete;
        report.hostsFailed = !VbClearHostsBlock();
        report.browsersFailed = !VbRevertBrowserDohLockdown();
    }
    // The settings, password included, go only once the machine is given back, or
    // once the parent accepts what stays: a later run then asks for the password again.
    if (PassIncomplete(report) && !UninstallAnyway(report)) {
        Resume(trayRan, serviceRan);
        return kIncomplete;
    }

    wchar_t removeTask[] = L"schtasks /Delete /TN Vellumbrook /F";
    wchar_t queryTask[] = L"schtasks /Query /TN Vellumbrook";
    bool taskRemoved = VbRunHidden(removeTask) || !VbRunHidden(queryTask);
    bool serviceRemoved = VbDeleteService();
    bool removed = false;
    {
        VbMachineLock lock;
        removed = secured && VbRemoveConfigDir() != 0;
    }
    if (removed && taskRemoved && serviceRemoved) return kDone;

    // The protections that stayed were named already, and accepted.
    wchar_t text[256];
    DescribeUninstall(removed, taskRemoved, serviceRemoved,
                      {reinterpret_cast<char16_t*>(text), std::size(text)});
    Warn(text);
    return kIncomplete;
}
