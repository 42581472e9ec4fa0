// Giving the machine back: "--stop" ends the service and the tray agent (an
// update replaces their files); "--uninstall", after the parent's password,
// reverts the protections and only then takes away the logon task, the service
// and the agent's data. An uninstall that cannot revert everything asks first.
#include <windows.h>
#include <commctrl.h>
#include <taskschd.h>

#include <iterator>

#include "agent/agent.h"
#include "common/vb_lock.h"
#include "config/config.h"
#include "protection/dohlock.h"
#include "protection/enforce.h"
#include "protection/hosts.h"
#include "ui/ui.h"
#include "ui/ui_text.h"

namespace {

// Either may be in the middle of a pass, whose netsh commands take their time.
constexpr DWORD kStopWaitMs = 30000;
// How long the question waits for the parent before it counts as "Non".
constexpr UINT kQuestionWaitMs = 5 * 60 * 1000;

constexpr wchar_t kNotStoppedText[] =
    L"Vellumbrook ne s'est pas arrêté. Réessayez dans un instant.";
// After "Oui" with the DNS lock still there: the adapters keep the family resolver,
// which the lock lets through, and the parent is told how to take both away.
constexpr wchar_t kLockStaysText[] =
    L"Le verrou DNS reste dans le Pare-feu Windows : supprimez les règles « Vellumbrook » dans "
    L"« Pare-feu Windows Defender avec fonctions avancées de sécurité », puis remettez le DNS "
    L"des cartes réseau en automatique.";
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

// Starts this executable again with arguments, without waiting for it.
void StartSelf(wchar_t* arguments) noexcept {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (CreateProcessW(self, arguments, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
}

// What an uninstall that stops early stopped is started again. A service still busy
// stopping (its pass outlived the wait) is started by a process of its own once it
// has stopped: this one ends now.
void Resume(bool trayWasRunning, bool serviceWasRunning) noexcept {
    SERVICE_STATUS_PROCESS status;
    if (serviceWasRunning && VbQueryService(status) &&
        status.dwCurrentState == SERVICE_STOP_PENDING) {
        wchar_t arguments[] = L"Vellumbrook.exe --start-service";
        StartSelf(arguments);
    } else if (serviceWasRunning) {
        VbStartService();
    }
    if (trayWasRunning) StartSelf(nullptr);
}

// A parent who walked away is a "Non": the thread's timer ends the box, from inside its
// own message loop.
void CALLBACK AnswerNo(HWND, UINT, UINT_PTR, DWORD) noexcept {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) noexcept -> BOOL {
            wchar_t className[8];
            if (GetClassNameW(window, className, 8) && lstrcmpW(className, L"#32770") == 0)
                EndDialog(window, IDNO);
            return TRUE;
        },
        0);
}

// "Oui" only: the default button is "Non", and the box has no other way out.
bool UninstallAnyway(const VbPassReport& report) noexcept {
    wchar_t text[256];
    DescribeRevertQuestion(report, {reinterpret_cast<char16_t*>(text), std::size(text)});
    UINT_PTR timer = SetTimer(nullptr, 0, kQuestionWaitMs, AnswerNo);
    int answer =
        MessageBoxW(nullptr, text, L"Vellumbrook", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    KillTimer(nullptr, timer);
    return answer == IDYES;
}

template <class T>
struct ComTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { p->Release(); }
};
template <class T>
using UniqueCom = VbUnique<ComTraits<T>>;
struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type s) noexcept { SysFreeString(s); }
};

// The logon task, deleted through the Task Scheduler's own API: schtasks exits with 1
// both when there is no such task and when it cannot ask, and prints translated text.
// True only once the scheduler answers that the task does not exist.
bool RemoveLogonTask() noexcept {
    HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool gone = false;
    {
        UniqueCom<ITaskService> scheduler;
        UniqueCom<ITaskFolder> root;
        UniqueCom<IRegisteredTask> task;
        VbUnique<BstrTraits> rootName(SysAllocString(L"\\"));
        VbUnique<BstrTraits> taskName(SysAllocString(L"Vellumbrook"));
        VARIANT none;
        VariantInit(&none);
        if (rootName && taskName &&
            SUCCEEDED(CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER,
                                       __uuidof(ITaskService),
                                       reinterpret_cast<void**>(scheduler.Put()))) &&
            SUCCEEDED(scheduler.Get()->Connect(none, none, none, none)) &&
            SUCCEEDED(scheduler.Get()->GetFolder(rootName.Get(), root.Put()))) {
            root.Get()->DeleteTask(taskName.Get(), 0);
            gone = root.Get()->GetTask(taskName.Get(), task.Put()) ==
                   HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
    }
    if (SUCCEEDED(initialized)) CoUninitialize();
    return gone;
}

}  // namespace

int VbPrepareSetup(HINSTANCE instance, bool askPassword) noexcept {
    // The setup stops here, having changed nothing, when something foreign stays in the
    // agent's folder or the settings cannot be read.
    VbConfig config;
    if (!VbLoadSecuredConfig(&config)) return kIncomplete;
    if (!askPassword || config.hasPassword) return kDone;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    VbUiInit(instance);
    return VbChooseFirstPassword(nullptr) ? kDone : kRefused;
}

int VbStopRunningAgent() noexcept {
    // Nothing is stopped when an agent of another session would run on: an update
    // would then fail with the service stopped and nothing enforcing.
    if (VbAgentInOtherSession()) return kStillRunning;
    bool serviceRan = false;
    bool trayRan = false;
    bool serviceStopped = VbStopService(kStopWaitMs, serviceRan);
    bool trayStopped = StopTray(trayRan);
    return serviceStopped && trayStopped ? kDone : kStillRunning;
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
        Resume(false, serviceRan);  // a tray agent that stays runs on
        Warn(kNotStoppedText);
        return kStillRunning;
    }

    // As a pass with protection off does, but the browser policies go too, so that
    // no browser stays "managed by your organization".
    VbPassReport report = {};
    report.configRead = 1;
    {
        VbMachineLock lock;
        // Never the lock with DHCP's resolvers: a lock that stays keeps the family
        // resolver, "Oui" included.
        VbRevertDnsAndLock(report);
        report.hostsFailed = !VbClearHostsBlock();
        report.browsersFailed = !VbRevertBrowserDohLockdown();
    }
    // The settings, password included, go only once the machine is given back, or
    // once the parent accepts what stays: a later run then asks for the password again.
    if (PassIncomplete(report) && !UninstallAnyway(report)) {
        Resume(trayRan, serviceRan);
        return kIncomplete;
    }
    if (report.lockFailed) Warn(kLockStaysText);

    bool taskRemoved = RemoveLogonTask();
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
