// "--service": the same enforcement pass as the tray agent's, run by the service
// control manager as LocalSystem in every session, with nobody logged on too.
// It shows nothing and asks nothing. The control handler only records a request
// and wakes the worker, which runs the passes on ServiceMain's thread.
#include <winsock2.h>
#include <ws2ipdef.h>  // before iphlpapi.h, which then declares the notifications
#include <windows.h>
#include <iphlpapi.h>

#include "agent/agent.h"
#include "agent/service_core.h"
#include "common/vb_system.h"
#include "protection/enforce.h"

namespace {

// Long enough for a pass that is waiting on its netsh commands.
constexpr DWORD kStopWaitHintMs = 30000;

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SRWLOCK g_statusLock = SRWLOCK_INIT;  // the handler's thread and the worker both report
SERVICE_STATUS g_status = {SERVICE_WIN32_OWN_PROCESS, 0, 0, 0, 0, 0, 0};
HANDLE g_stop = nullptr;    // manual reset: set once, for good
HANDLE g_change = nullptr;  // auto reset: a network change, or SERVICE_CONTROL_PARAMCHANGE
LONG g_added = 0;           // 1 once an interface or an address appeared since the worker looked

void ReportStatus(DWORD state, DWORD waitHint = 0, DWORD exitCode = NO_ERROR) noexcept {
    AcquireSRWLockExclusive(&g_statusLock);
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
            : 0;
    g_status.dwWin32ExitCode = exitCode;
    g_status.dwWaitHint = waitHint;
    g_status.dwCheckPoint =
        state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : g_status.dwCheckPoint + 1;
    SetServiceStatus(g_statusHandle, &g_status);
    ReleaseSRWLockExclusive(&g_statusLock);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) noexcept {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            // Answered at once; the worker stops when its pass ends, or at once between passes.
            ReportStatus(SERVICE_STOP_PENDING, kStopWaitHintMs);
            SetEvent(g_stop);
            return NO_ERROR;
        case SERVICE_CONTROL_PARAMCHANGE:  // an administrator asks for a pass, as a change would
            SetEvent(g_change);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// IP Helper calls these on its thread pool: they only note what came and wake the worker.
void Notice(MIB_NOTIFICATION_TYPE type) noexcept {
    if (type == MibAddInstance) InterlockedExchange(&g_added, 1);
    SetEvent(g_change);
}
void NETIOAPI_API_ OnInterfaceChange(void*, MIB_IPINTERFACE_ROW*,
                                     MIB_NOTIFICATION_TYPE type) noexcept {
    Notice(type);
}
void NETIOAPI_API_ OnAddressChange(void*, MIB_UNICASTIPADDRESS_ROW*,
                                   MIB_NOTIFICATION_TYPE type) noexcept {
    Notice(type);
}

// Returns NO_ERROR once asked to stop, or the error that stopped the waits: reported,
// it makes the service control manager restart the service.
DWORD RunPasses() noexcept {
    PassSchedule schedule;
    const HANDLE events[] = {g_stop, g_change};
    for (;;) {
        // A stop asked during a pass that outlasted its period ends here, before another.
        if (WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0) return NO_ERROR;
        ULONGLONG now = GetTickCount64();
        ULONGLONG due = NextPassAt(schedule);
        if (due <= now) {
            NotePassStart(schedule, now);
            VbPassReport report;
            VbEnforceFromConfig(&report);
            NotePassEnd(schedule, GetTickCount64());
            continue;
        }
        DWORD waited = WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(due - now));
        if (waited == WAIT_FAILED) return GetLastError();
        if (waited == WAIT_OBJECT_0) return NO_ERROR;
        if (waited == WAIT_OBJECT_0 + 1)
            NoteNotification(schedule, GetTickCount64(), InterlockedExchange(&g_added, 0) != 0);
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) noexcept {
    g_statusHandle = RegisterServiceCtrlHandlerExW(ServiceName, OnControl, nullptr);
    if (g_statusHandle == nullptr) return;
    ReportStatus(SERVICE_START_PENDING, 3000);
    VbUniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    VbUniqueHandle change(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!stop || !change) {
        ReportStatus(SERVICE_STOPPED, 0, GetLastError());
        return;
    }
    g_stop = stop.Get();
    g_change = change.Get();
    // Best effort: without notifications the 60-second passes still hold. A null
    // handle with success is possible (Wine calls back once and keeps none).
    static const auto onInterfaces = VB_SYSTEM_FN(L"iphlpapi.dll", NotifyIpInterfaceChange);
    static const auto onAddresses = VB_SYSTEM_FN(L"iphlpapi.dll", NotifyUnicastIpAddressChange);
    static const auto cancel = VB_SYSTEM_FN(L"iphlpapi.dll", CancelMibChangeNotify2);
    HANDLE interfaces = nullptr;
    HANDLE addresses = nullptr;
    if (onInterfaces && onAddresses && cancel) {
        onInterfaces(AF_UNSPEC, OnInterfaceChange, nullptr, FALSE, &interfaces);
        onAddresses(AF_UNSPEC, OnAddressChange, nullptr, FALSE, &addresses);
    }
    ReportStatus(SERVICE_RUNNING);

    DWORD stopped = RunPasses();

    // Cancelling waits for callbacks under way, so the events outlive them.
    if (interfaces != nullptr) cancel(interfaces);
    if (addresses != nullptr) cancel(addresses);
    ReportStatus(SERVICE_STOPPED, 0, stopped);
}

// Whether the service control manager is starting the service in this very process.
bool StartedByServiceManager() noexcept {
    SERVICE_STATUS_PROCESS status;
    return VbQueryService(status) && status.dwCurrentState == SERVICE_START_PENDING &&
           status.dwProcessId == GetCurrentProcessId();
}

}  // namespace

int VbRunService() noexcept {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(ServiceName), ServiceMain},
                                    {nullptr, nullptr}};
    // Started by hand, not by the service control manager: it does nothing. The
    // manager names the process it started; Wine's dispatcher would otherwise
    // wait on another service's control pipe instead of failing.
    return StartedByServiceManager() && StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
