// One agent per machine. The guard is a mutex only administrators can create, in
// the agent's private namespace; there, a guard that is held means a running
// agent, in this session or another. Where the platform refuses the namespace
// (Wine has none), a machine-wide name stands in, which anyone may take: a taken
// name then only counts once the running agent's tray window shows.
#include <windows.h>

#include "agent/agent.h"
#include "common/vb_lock.h"

namespace {

constexpr wchar_t kGuardName[] = L"AgentMutex";
// How long a start waits for the tray window of the agent that holds the name.
constexpr DWORD kAgentWaitMs = 3000;

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

// Takes the guard when it is free (or was left by an agent that ended).
bool Acquire(HANDLE mutex) noexcept {
    DWORD waited = WaitForSingleObject(mutex, 0);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
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
    bool namespaced = false;
    DWORD error = 0;
    guard.mutex.Reset(VbCreateAgentMutex(kGuardName, true, namespaced, error));
    // Created by this call, it is owned; one that was there is owned once it is free.
    if (guard.mutex && (error != ERROR_ALREADY_EXISTS || Acquire(guard.mutex.Get()))) return 1;
    guard.mutex.Reset();
    *running = VbFindRunningAgent(namespaced ? 0 : kAgentWaitMs);
    return *running == nullptr && !namespaced ? 1 : 0;
}

bool VbAgentInOtherSession() noexcept {
    bool namespaced = false;
    DWORD error = 0;
    VbUniqueHandle guard(VbCreateAgentMutex(kGuardName, false, namespaced, error));
    if (!namespaced || !guard || VbFindRunningAgent(0) != nullptr) return false;
    if (!Acquire(guard.Get())) return true;
    ReleaseMutex(guard.Get());
    return false;
}
