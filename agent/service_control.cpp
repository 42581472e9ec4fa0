// The service's record in the service control manager: made or brought up to date
// by the setup program ("--install-service"), stopped by "--stop" and the
// uninstaller, started again after an uninstall the parent called off, deleted
// by the uninstaller.
#include <windows.h>
#include <sddl.h>

#include "agent/agent.h"
#include "common/vb_lock.h"
#include "common/vb_text.h"

namespace {

constexpr wchar_t kDescription[] =
    L"Maintient la protection familiale de Vellumbrook dans toutes les sessions.";
// Administrators and SYSTEM may do everything. Interactive and authenticated
// users may only query its configuration and status and interrogate it: the
// default security would also let them send it user-defined controls.
constexpr wchar_t kServiceSddl[] =
    L"D:(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    L"(A;;CCLCLO;;;IU)(A;;CCLCLO;;;AU)";
// Restarted one minute after every failure (the last action stands for all later
// ones); the count resets after a day.
constexpr DWORD kRestartDelayMs = 60000;
constexpr DWORD kResetPeriodSeconds = 24 * 60 * 60;
// The service starts in safe mode too, with networking or without.
constexpr const wchar_t* kSafeBootKeys[] = {
    L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\Vellumbrook",
    L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\Vellumbrook"};

VbUniqueService OpenService(DWORD access) noexcept {
    VbUniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return VbUniqueService(manager ? OpenServiceW(manager.Get(), ServiceName, access) : nullptr);
}

bool Describe(SC_HANDLE service) noexcept {
    SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(kDescription)};
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs}};
    SERVICE_FAILURE_ACTIONSW failure = {kResetPeriodSeconds, nullptr, nullptr, 3, actions};
    // A stop with an error code is a failure too, not only a crash.
    SERVICE_FAILURE_ACTIONS_FLAG onErrors = {TRUE};
    PSECURITY_DESCRIPTOR held = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSddl, SDDL_REVISION_1, &held,
                                                         nullptr);
    VbUniqueLocal security(held);
    bool ok = ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description) != FALSE;
    ok = ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) && ok;
    // Windows has known the flag since Vista; where it is unknown (Wine answers
    // ERROR_INVALID_LEVEL), a crash still restarts the service.
    ok = (ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrors) ||
          GetLastError() == ERROR_INVALID_LEVEL) &&
         ok;
    // Through the registry API: reg.exe on these keys is what security tools flag.
    for (const wchar_t* keyPath : kSafeBootKeys) {
        static constexpr wchar_t kService[] = L"Service";
        VbUniqueKey key;
        ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_SET_VALUE, nullptr, key.Put(), nullptr) == ERROR_SUCCESS &&
             RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kService),
                            sizeof kService) == ERROR_SUCCESS &&
             ok;
    }
    ok = security && SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, security.Get()) &&
         ok;
    return ok;
}

// The service runs as LocalSystem: only the copy in the agent's Program Files folder,
// which standard users cannot write, may be registered. Final paths, so that short
// names, junctions and links lead nowhere else.
bool InProgramFolder(const wchar_t* self) noexcept {
    wchar_t folder[MAX_PATH];
    wchar_t finalFolder[MAX_PATH];
    wchar_t expected[MAX_PATH];
    wchar_t finalSelf[MAX_PATH];
    if (!VbAgentProgramFolder(folder)) return false;
    VbUniqueFile folderHandle(CreateFileW(
        folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    VbUniqueFile selfHandle(CreateFileW(self, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    auto finalPath = [](const VbUniqueFile& file, wchar_t(&out)[MAX_PATH]) {
        DWORD length = file ? GetFinalPathNameByHandleW(file.Get(), out, MAX_PATH, 0) : 0;
        return length != 0 && length < MAX_PATH;
    };
    return finalPath(folderHandle, finalFolder) && finalPath(selfHandle, finalSelf) &&
           VbJoin<wchar_t>(expected, {finalFolder, L"\\Vellumbrook.exe"}) &&
           CompareStringOrdinal(finalSelf, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

bool Start(SC_HANDLE service) noexcept {
    return StartServiceW(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

// True when it is gone, or only marked for deletion while another program keeps
// a handle on it.
bool DeleteTheService() noexcept {
    for (int round = 0; round < 2; ++round) {
        VbUniqueService service = OpenService(DELETE);
        DWORD error = GetLastError();
        if (!service)
            return error == ERROR_SERVICE_DOES_NOT_EXIST ||
                   error == ERROR_SERVICE_MARKED_FOR_DELETE;
        // The second round finds it only marked for deletion while another program
        // (a services console) keeps a handle: it goes when that one closes.
        if (!DeleteService(service.Get()) && GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)
            return true;
    }
    return false;
}

}  // namespace

int VbInstallService() noexcept {
    // This very executable, the installed one, quoted: its path has spaces.
    wchar_t self[MAX_PATH];
    wchar_t command[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !InProgramFolder(self)) return kRefused;
    VbUniqueService manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager || !VbJoin<wchar_t>(command, {L"\"", self, L"\" --service"})) return kIncomplete;
    VbUniqueService service(CreateServiceW(manager.Get(), ServiceName, L"Vellumbrook",
                                           SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                           SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command,
                                           nullptr, nullptr, nullptr, nullptr, nullptr));
    // An earlier install's: brought up to date (LocalSystem takes no password).
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        service.Reset(OpenServiceW(manager.Get(), ServiceName, SERVICE_ALL_ACCESS));
        if (service &&
            !ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command, nullptr, nullptr, nullptr,
                                  L"LocalSystem", L"", L"Vellumbrook"))
            service.Reset();
    }
    bool ok = service && Describe(service.Get());
    return ok && Start(service.Get()) ? kDone : kIncomplete;
}

bool VbQueryService(SERVICE_STATUS_PROCESS& status) noexcept {
    VbUniqueService service = OpenService(SERVICE_QUERY_STATUS);
    DWORD size = 0;
    status = {};
    return service && QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                           reinterpret_cast<BYTE*>(&status), sizeof status, &size);
}

bool VbStopService(DWORD waitMs, bool& wasRunning) noexcept {
    wasRunning = false;
    VbUniqueService service = OpenService(SERVICE_STOP);
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS_PROCESS status;
    if (!VbQueryService(status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    wasRunning = true;
    VbUniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    SERVICE_STATUS ignored;
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &ignored);
    // Its files may be replaced, and the machine changed, only once its process
    // has ended, not just once it reports itself stopped. One that ended between the
    // query and the open left nothing to wait for.
    if (!process) return VbQueryService(status) && status.dwCurrentState == SERVICE_STOPPED;
    return WaitForSingleObject(process.Get(), waitMs) == WAIT_OBJECT_0;
}

bool VbStartService() noexcept {
    VbUniqueService service = OpenService(SERVICE_START);
    return service && Start(service.Get());
}

bool VbStartServiceOnceStopped(DWORD waitMs) noexcept {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    SERVICE_STATUS_PROCESS status;
    while (VbQueryService(status) && status.dwCurrentState == SERVICE_STOP_PENDING &&
           GetTickCount64() < deadline)
        Sleep(1000);
    return VbStartService();
}

bool VbDeleteService() noexcept {
    bool keysGone = true;
    for (const wchar_t* keyPath : kSafeBootKeys) {
        LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath);
        keysGone = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && keysGone;
    }
    return DeleteTheService() && keysGone;
}
