// The lock file, its pass lock (byte 0) and its one-agent guard (byte 1).
#include "common/vb_lock.h"

#include <sddl.h>
#include <shlobj.h>

#include <atomic>

#include "common/vb_handle.h"
#include "common/vb_text.h"

namespace {

constexpr DWORD kPassByte = 0;
constexpr DWORD kGuardByte = 1;
constexpr ULONGLONG kLockWaitMs = 60000;
// SYSTEM and Administrators only, whatever Program Files lends its files.
constexpr wchar_t kLockSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

HANDLE OpenLockFile() noexcept {
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!VbAgentProgramFolder(folder) || !VbJoin<wchar_t>(path, {folder, L"\\Vellumbrook.lock"}) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1, &made,
                                                              nullptr))
        return INVALID_HANDLE_VALUE;
    VbUniqueLocal descriptor(made);
    // The setup makes the folder; a copy that runs before it makes it the same way.
    CreateDirectoryW(folder, nullptr);
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opened once and kept: a pass takes the lock every minute.
HANDLE LockFile() noexcept {
    static HANDLE file = OpenLockFile();
    return file;
}

bool TryLock(DWORD byte) noexcept {
    OVERLAPPED at = {};
    at.Offset = byte;
    return LockFileEx(LockFile(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at) != FALSE;
}

// The thread of this process that holds the pass lock, and how many times it took it.
std::atomic<DWORD> g_owner{0};
int g_depth = 0;

}  // namespace

bool VbAgentProgramFolder(wchar_t (&out)[MAX_PATH]) noexcept {
    wchar_t programs[MAX_PATH];
    return SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                      programs)) &&
           VbJoin<wchar_t>(out, {programs, L"\\Vellumbrook"});
}

VbMachineLock::VbMachineLock() noexcept {
    if (g_owner == GetCurrentThreadId()) {
        ++g_depth;
        held_ = true;
        return;
    }
    if (LockFile() == INVALID_HANDLE_VALUE) return;
    // Polled: an overlapped wait on a file lock is not dependable under Wine, and a
    // pass comes once a minute.
    const ULONGLONG deadline = GetTickCount64() + kLockWaitMs;
    while (!TryLock(kPassByte)) {
        if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= deadline) return;
        Sleep(50);
    }
    g_owner = GetCurrentThreadId();
    g_depth = 1;
    held_ = true;
}

VbMachineLock::~VbMachineLock() {
    if (!held_ || --g_depth > 0) return;
    g_owner = 0;
    UnlockFile(LockFile(), kPassByte, 0, 1, 0);
}

bool VbTakeAgentGuard() noexcept {
    return LockFile() == INVALID_HANDLE_VALUE || TryLock(kGuardByte);
}

bool VbAgentGuardHeld() noexcept {
    if (LockFile() == INVALID_HANDLE_VALUE) return false;
    if (!TryLock(kGuardByte)) return GetLastError() == ERROR_LOCK_VIOLATION;
    UnlockFile(LockFile(), kGuardByte, 0, 1, 0);
    return false;
}
