// The agent's folder: created with its own security, taken back from whoever
// made it first, and cleared of what the agent did not make.
#include "config/config_folder.h"

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <shlobj.h>

#include <string_view>

#include "common/vb_text.h"
#include "config/config.h"

namespace {

constexpr int kAttempts = 3;

struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    PSID Get() noexcept { return bytes; }
};

bool WellKnown(WELL_KNOWN_SID_TYPE type, Sid& sid) noexcept {
    DWORD size = sizeof sid.bytes;
    return CreateWellKnownSid(type, nullptr, sid.Get(), &size) != FALSE;
}

// Lets the agent take ownership of an entry whose access rights refuse administrators.
void EnableTakeOwnership() noexcept {
    VbUniqueHandle token;
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put()) &&
        LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
}

// Owner Administrators and the folder's access rights, through a handle to the
// entry itself; with what is set given by parts.
bool SetSecurity(HANDLE entry, SECURITY_INFORMATION parts) noexcept {
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted))
        return false;
    return SetSecurityInfo(entry, SE_FILE_OBJECT, parts, owner, nullptr, dacl, nullptr) ==
           ERROR_SUCCESS;
}

// Renames what stands at path to path.untrusted-<random>, beside it, never
// following a link. Its owner and access rights are taken back first, so that a
// standard user's refusal cannot keep it in place.
bool MoveAside(const wchar_t* path) noexcept {
    EnableTakeOwnership();
    if (VbUniqueFile entry = OpenEntryItself(path, WRITE_OWNER))
        SetSecurity(entry.Get(), OWNER_SECURITY_INFORMATION);
    if (VbUniqueFile entry = OpenEntryItself(path, WRITE_DAC))
        SetSecurity(entry.Get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION);
    VbUniqueFile entry = OpenEntryItself(path, DELETE | SYNCHRONIZE);
    if (!entry) return false;

    // A name nobody can take first: the random part is drawn anew on each try.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        unsigned char random[8];
        if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
            return false;
        wchar_t hex[2 * sizeof random + 1];
        for (std::size_t i = 0; i < sizeof random; ++i) {
            hex[2 * i] = L"0123456789abcdef"[random[i] >> 4];
            hex[2 * i + 1] = L"0123456789abcdef"[random[i] & 15];
        }
        hex[2 * sizeof random] = L'\0';
        union {
            FILE_RENAME_INFO info;
            BYTE bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(wchar_t)];
        } rename = {};
        std::span<wchar_t> name(rename.info.FileName, MAX_PATH);
        if (!VbJoin<wchar_t>(name, {path, UntrustedSuffix, hex})) return false;
        rename.info.FileNameLength =
            static_cast<DWORD>(std::wstring_view(name.data()).size() * sizeof(wchar_t));
        if (SetFileInformationByHandle(entry.Get(), FileRenameInfo, &rename, sizeof rename))
            return true;
    }
    return false;
}

enum class EntryState { Missing, Usable, Foreign };

// Missing, usable by the agent (a plain folder or file of the kind asked for, with
// a trusted owner), or foreign: anything else, or anything the agent may not open.
EntryState Inspect(const wchar_t* path, bool folder) noexcept {
    VbUniqueFile entry = OpenEntryItself(path, READ_CONTROL);
    if (!entry) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? EntryState::Missing
                   : EntryState::Foreign;
    }
    return IsPlainEntry(entry.Get(), folder) && TrustedOwner(entry.Get())
               ? EntryState::Usable
               : EntryState::Foreign;
}

// The entry is there and usable when this returns true: what stood in its place
// was moved aside, or a missing folder made (files are made by the save).
bool MakeUsable(const wchar_t* path, bool folder, SECURITY_ATTRIBUTES* security) noexcept {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        switch (Inspect(path, folder)) {
            case EntryState::Usable:
                return true;
            case EntryState::Missing:
                if (!folder) return true;
                if (CreateDirectoryW(path, security)) return true;
                if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
                break;  // someone was quicker: look again
            case EntryState::Foreign:
                if (!MoveAside(path)) return false;
                break;
        }
    }
    return false;
}

// Removes a plain folder's entries and then the folder. A link inside is removed
// as a link, never entered.
bool RemoveTree(const wchar_t* folder) noexcept {
    wchar_t pattern[MAX_PATH];
    if (!VbJoin<wchar_t>(pattern, {folder, L"\\*"})) return false;
    WIN32_FIND_DATAW found;
    VbUniqueFind search(FindFirstFileW(pattern, &found));
    if (search) {
        do {
            std::wstring_view name(found.cFileName);
            wchar_t path[MAX_PATH];
            if (name == L"." || name == L".." || !VbJoin<wchar_t>(path, {folder, L"\\", name}))
                continue;
            DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(path);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(path);
            } else {
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path);
            }
        } while (FindNextFileW(search.Get(), &found));
        search.Reset();
    }
    return RemoveDirectoryW(folder) != FALSE;
}

}  // namespace

int VbRemoveConfigDir() noexcept {
    wchar_t folder[MAX_PATH];
    if (!GetAgentFolder(folder)) return 0;
    VbUniqueFile entry = OpenEntryItself(folder, 0);
    if (!entry) return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : 0;
    bool plain = IsPlainEntry(entry.Get(), true);
    entry.Reset();
    return plain && RemoveTree(folder) ? 1 : 0;
}

VbUniqueLocal BuildConfigFolderDescriptor() noexcept {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ConfigFolderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return {};
    return VbUniqueLocal(descriptor);
}

const wchar_t* DataFolder() noexcept {
    static wchar_t folder[MAX_PATH];
    static bool known = false;
    if (!known) {
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                    folder)))
            lstrcpynW(folder, L"C:\\ProgramData", MAX_PATH);
        known = true;
    }
    return folder;
}

bool GetAgentFolder(wchar_t (&out)[MAX_PATH]) noexcept {
    return VbJoin<wchar_t>(out, {DataFolder(), AgentFolderName});
}

VbUniqueFile OpenEntryItself(const wchar_t* path, DWORD access) noexcept {
    VbUniqueFile entry(CreateFileW(path, access | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    if (!entry) return entry;  // its caller reads the error of the open
    FILE_ATTRIBUTE_TAG_INFO info;
    DWORD byPath = GetFileAttributesW(path);
    if (byPath != INVALID_FILE_ATTRIBUTES && (byPath & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (!GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &info, sizeof info) ||
         !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    return entry;
}

namespace {

// The owners of what the agent made: Administrators, SYSTEM and its own user.
struct OwnerSids {
    Sid admins;
    Sid system;
    Sid user;
    bool known = false;
};

OwnerSids LookUpOwnerSids() noexcept {
    OwnerSids sids;
    VbUniqueHandle token;
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    sids.known = WellKnown(WinBuiltinAdministratorsSid, sids.admins) &&
                 WellKnown(WinLocalSystemSid, sids.system) &&
                 OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()) &&
                 GetTokenInformation(token.Get(), TokenUser, user, sizeof user, &size) &&
                 CopySid(sizeof sids.user.bytes, sids.user.Get(),
                         reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
    return sids;
}

}  // namespace

bool TrustedOwner(HANDLE entry) noexcept {
    // Looked up once: a pass checks config.dat's owner every minute.
    static OwnerSids sids = LookUpOwnerSids();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    if (!sids.known || GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                       nullptr, nullptr, nullptr, &held) != ERROR_SUCCESS)
        return false;
    VbUniqueLocal descriptor(held);
    return EqualSid(owner, sids.admins.Get()) || EqualSid(owner, sids.system.Get()) ||
           EqualSid(owner, sids.user.Get());
}

// OpenEntryItself already refused a link that only its path shows. The attributes
// alone: Wine's full query of a folder costs a millisecond.
bool IsPlainEntry(HANDLE entry, bool folder) noexcept {
    FILE_ATTRIBUTE_TAG_INFO info;
    return GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof info) &&
           !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

int VbEnsureConfigDir() noexcept {
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    wchar_t temp[MAX_PATH];
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    if (!GetAgentFolder(folder) || !VbGetConfigPath(file, MAX_PATH) ||
        !VbJoin<wchar_t>(temp, {file, ConfigTempSuffix}) || !descriptor)
        return 0;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    if (!MakeUsable(folder, true, &security)) return 0;

    // Ours now, or made before us by an administrator: its security is put right,
    // through a handle to the entry itself.
    VbUniqueFile entry = OpenEntryItself(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    if (!entry || !IsPlainEntry(entry.Get(), true) ||
        !SetSecurity(entry.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                      PROTECTED_DACL_SECURITY_INFORMATION))
        return 0;
    // Inside, the agent reads only config.dat and writes only its temporary file.
    // A temporary file is deleted by the next save, whoever made it; a folder or a
    // link under either name is not the agent's.
    if (!MakeUsable(file, false, nullptr)) return 0;
    if (Inspect(temp, false) == EntryState::Foreign) {
        DWORD attributes = GetFileAttributesW(temp);
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            !MoveAside(temp))
            return 0;
    }
    return 1;
}
