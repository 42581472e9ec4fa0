// The agent's private namespace, its mutexes and the machine-wide pass lock.
#include "common/vb_lock.h"

#include <sddl.h>

#include <span>

#include "common/vb_handle.h"
#include "common/vb_text.h"

namespace {

constexpr wchar_t kNamespace[] = L"Vellumbrook";
// Administrators and SYSTEM only.
constexpr wchar_t kObjectSddl[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr DWORD kLockWaitMs = 60000;

struct BoundaryTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DeleteBoundaryDescriptor(h); }
};

// The descriptor of the namespace and of every object in it; made once.
SECURITY_ATTRIBUTES* ObjectSecurity() noexcept {
    static PSECURITY_DESCRIPTOR descriptor = [] {
        PSECURITY_DESCRIPTOR made = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(kObjectSddl, SDDL_REVISION_1, &made,
                                                             nullptr);
        return made;
    }();
    static SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    return &security;
}

HANDLE OpenAgentNamespace() noexcept {
    VbUnique<BoundaryTraits> boundary(CreateBoundaryDescriptorW(kNamespace, 0));
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    if (!boundary || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size))
        return nullptr;
    // The call may move the descriptor: its owner takes back whatever it returns.
    HANDLE held = boundary.Release();
    BOOL added = AddSIDToBoundaryDescriptor(&held, admins);
    boundary.Reset(held);
    if (!added) return nullptr;
    HANDLE space = CreatePrivateNamespaceW(ObjectSecurity(), held, kNamespace);
    if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        space = OpenPrivateNamespaceW(held, kNamespace);
    return space;
}

bool AgentObjectName(std::wstring_view name, std::span<wchar_t> out, bool& namespaced) noexcept {
    // Kept open for the life of the process: the names in it live as long as a
    // handle to the namespace does.
    static HANDLE space = OpenAgentNamespace();
    namespaced = space != nullptr;
    return namespaced ? VbJoin<wchar_t>(out, {kNamespace, L"\\", name})
                      : VbJoin<wchar_t>(out, {L"Global\\", kNamespace, name});
}

}  // namespace

HANDLE VbCreateAgentMutex(std::wstring_view name, bool owned, bool& namespaced,
                          DWORD& error) noexcept {
    wchar_t full[MAX_PATH];
    if (!AgentObjectName(name, full, namespaced)) {
        error = ERROR_BAD_PATHNAME;
        return nullptr;
    }
    HANDLE mutex = CreateMutexW(ObjectSecurity(), owned ? TRUE : FALSE, full);
    error = GetLastError();
    return mutex;
}

VbMachineLock::VbMachineLock() noexcept {
    // One per process, kept: a pass takes it every minute.
    static HANDLE lock = [] {
        bool namespaced = false;
        DWORD error = 0;
        return VbCreateAgentMutex(L"PassLock", false, namespaced, error);
    }();
    // Abandoned: its holder ended in the middle; what it left is put right by this pass.
    if (lock != nullptr) {
        DWORD waited = WaitForSingleObject(lock, kLockWaitMs);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) held_ = lock;
    }
}

VbMachineLock::~VbMachineLock() {
    if (held_ != nullptr) ReleaseMutex(held_);
}
