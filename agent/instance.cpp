// One agent per machine, and whether the one that runs is on this desktop. The
// guard is a lock no standard user can take (common/vb_lock.h); an agent's window
// counts only when its process runs the agent's own executable, elevated.
#include <windows.h>
#include <lm.h>
#include <wtsapi32.h>

#include "agent/agent.h"
#include "common/vb_lock.h"
#include "common/vb_system.h"
#include "common/vb_text.h"

namespace {

// How long a start waits for the tray window of the agent that holds the guard.
constexpr DWORD kAgentWaitMs = 3000;

// The full path of a process's executable, as QueryFullProcessImageNameW writes it.
bool ImagePath(HANDLE process, wchar_t (&path)[MAX_PATH]) noexcept {
    DWORD size = MAX_PATH;
    return QueryFullProcessImageNameW(process, 0, path, &size) != FALSE;
}

// A standard user can run a copy of the agent's own executable without elevation
// and give it a window of the tray class: only an elevated process (SYSTEM's
// included) is an agent. A token that cannot be read is no agent's either.
bool RunsElevated(HANDLE process) noexcept {
    VbUniqueHandle token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return OpenProcessToken(process, TOKEN_QUERY, token.Put()) &&
           GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
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
        CompareStringOrdinal(theirs, -1, ours, -1, TRUE) == CSTR_EQUAL &&
        RunsElevated(process.Get())) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Who is logged on to a session, and that user's groups: wtsapi32 and netapi32 from
// the system directory (vb_system.h).
struct SessionApi {
    decltype(&WTSQuerySessionInformationW) query =
        VB_SYSTEM_FN(L"wtsapi32.dll", WTSQuerySessionInformationW);
    decltype(&WTSFreeMemory) freeMemory = VB_SYSTEM_FN(L"wtsapi32.dll", WTSFreeMemory);
    decltype(&NetUserGetLocalGroups) groups = VB_SYSTEM_FN(L"netapi32.dll", NetUserGetLocalGroups);
    decltype(&NetApiBufferFree) freeBuffer = VB_SYSTEM_FN(L"netapi32.dll", NetApiBufferFree);
    bool Loaded() const noexcept { return query && freeMemory && groups && freeBuffer; }
};

const SessionApi& Api() noexcept {
    static const SessionApi api;
    return api;
}

struct WtsTextTraits {
    using Type = LPWSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Api().freeMemory(p); }
};
struct NetBufferTraits {
    using Type = LPBYTE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Api().freeBuffer(p); }
};

// The Administrators group's name on this machine: translated ("Administrateurs").
bool AdministratorsName(wchar_t (&name)[256]) noexcept {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use);
}

}  // namespace

bool VbSessionUserIsAdmin() noexcept {
    const SessionApi& api = Api();
    DWORD session = 0;
    VbUnique<WtsTextTraits> user;
    VbUnique<WtsTextTraits> domain;
    DWORD bytes = 0;
    wchar_t account[2 * 256 + 2];
    if (!api.Loaded() || !ProcessIdToSessionId(GetCurrentProcessId(), &session) ||
        !api.query(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, user.Put(), &bytes) ||
        !api.query(WTS_CURRENT_SERVER_HANDLE, session, WTSDomainName, domain.Put(), &bytes) ||
        !user || user.Get()[0] == L'\0' || !domain ||
        !VbJoin<wchar_t>(account, {domain.Get(), L"\\", user.Get()}))
        return false;
    // Indirect membership too: a domain account may be an administrator through a group.
    VbUnique<NetBufferTraits> buffer;
    DWORD read = 0;
    DWORD total = 0;
    wchar_t admins[256];
    if (api.groups(nullptr, account, 0, LG_INCLUDE_INDIRECT, buffer.Put(), MAX_PREFERRED_LENGTH,
                   &read, &total) != NERR_Success ||
        !AdministratorsName(admins))
        return false;
    const auto* groups = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer.Get());
    for (DWORD i = 0; i < read; ++i)
        if (CompareStringOrdinal(groups[i].lgrui0_name, -1, admins, -1, TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

HWND VbFindRunningAgent(DWORD waitMs) noexcept {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        HWND found = nullptr;
        EnumWindows(MatchAgent, reinterpret_cast<LPARAM>(&found));
        if (found != nullptr || GetTickCount64() >= deadline) return found;
        Sleep(50);
    }
}

int VbTakeInstanceGuard(HWND* running) noexcept {
    *running = nullptr;
    if (VbTakeAgentGuard()) return 1;
    // The agent that holds it may not have made its window yet.
    *running = VbFindRunningAgent(kAgentWaitMs);
    return 0;
}

bool VbAgentInOtherSession() noexcept {
    return VbAgentGuardHeld() && VbFindRunningAgent(0) == nullptr;
}
