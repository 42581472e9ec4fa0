// One agent per machine. The guard is a mutex only administrators can create, in
// a private namespace bounded by the Administrators group; where the platform
// refuses the namespace (Wine has none), the old machine-wide name stands in. A
// name that is taken only counts once the running agent's tray window shows:
// anything else holding it never keeps the agent from starting.
#include <windows.h>
#include <sddl.h>

#include "agent/agent.h"

namespace {

constexpr wchar_t kNamespace[] = L"Vellumbrook";
constexpr wchar_t kNamespacedMutex[] = L"Vellumbrook\\AgentMutex";
constexpr wchar_t kGlobalMutex[] = L"Global\\VellumbrookAgentMutex";
// Administrators and SYSTEM only.
constexpr wchar_t kGuardSddl[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";
// How long a start waits for the tray window of the agent that holds the name.
constexpr DWORD kAgentWaitMs = 3000;

struct BoundaryTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DeleteBoundaryDescriptor(h); }
};

VbUnique<VbNamespaceTraits> OpenAgentNamespace(SECURITY_ATTRIBUTES* security) noexcept {
    VbUnique<BoundaryTraits> boundary(CreateBoundaryDescriptorW(kNamespace, 0));
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    if (!boundary || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size))
        return {};
    // The call may move the descriptor: its owner takes back whatever it returns.
    HANDLE held = boundary.Release();
    BOOL added = AddSIDToBoundaryDescriptor(&held, admins);
    boundary.Reset(held);
    if (!added) return {};
    VbUnique<VbNamespaceTraits> space(CreatePrivateNamespaceW(security, held, kNamespace));
    if (!space && GetLastError() == ERROR_ALREADY_EXISTS)
        space.Reset(OpenPrivateNamespaceW(held, kNamespace));
    return space;
}

// The full path of a process's executable, as QueryFullProcessImageNameW writes it.
bool ImagePath(HANDLE process, wchar_t (&path)[MAX_PATH]) noexcept {
    DWORD size = MAX_PATH;
    return QueryFullProcessImageNameW(process, 0, path, &size) != FALSE;
}

BOOL CALLBACK MatchAgent(HWND window, LPARAM found) noexcept {
    wchar_t className[16];
    if (GetClassNameW(window, className, 16) == 0 || lstrcmpW(className, TrayClassName) != 0)
        return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId()) return TRUE;
    VbUniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t theirs[MAX_PATH];
    wchar_t ours[MAX_PATH];
    if (process && ImagePath(process.Get(), theirs) && ImagePath(GetCurrentProcess(), ours) &&
        CompareStringOrdinal(theirs, -1, ours, -1, TRUE) == CSTR_EQUAL) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND VbFindRunningAgent(DWORD waitMs) noexcept {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        HWND found = nullptr;
        EnumWindows(MatchAgent, reinterpret_cast<LPARAM>(&found));
        if (found != nullptr || GetTickCount64() >= deadline) return found;
        Sleep(50);
    }
}

int VbTakeInstanceGuard(VbInstanceGuard& guard, HWND* running) noexcept {
    *running = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kGuardSddl, SDDL_REVISION_1, &held,
                                                         nullptr);
    VbUniqueLocal descriptor(held);
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    guard.space = OpenAgentNamespace(&security);
    HANDLE mutex = CreateMutexW(&security, TRUE, guard.space ? kNamespacedMutex : kGlobalMutex);
    DWORD error = GetLastError();
    guard.mutex.Reset(mutex);
    // Refused (someone else's mutex that we may not open) or already there.
    bool taken = mutex == nullptr || error == ERROR_ALREADY_EXISTS;
    if (!taken) return 1;
    guard.mutex.Reset();
    *running = VbFindRunningAgent(kAgentWaitMs);
    return *running == nullptr ? 1 : 0;
}
