// The agent's folder: where it is, created with its own security, and cleared of
// what the agent did not make. Nothing here follows a link or adopts an entry
// that a standard user made.
#include "config/config_folder.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <string_view>

#include "common/vb_text.h"
#include "config/config.h"
#include "password/password.h"

namespace {

constexpr int kAttempts = 3;
constexpr std::wstring_view kFolderName = L"\\Vellumbrook";
constexpr std::wstring_view kFileName = L"\\config.dat";

// The machine-wide data folder, looked up once per process.
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

struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    PSID Get() noexcept { return bytes; }
};

bool WellKnown(WELL_KNOWN_SID_TYPE type, Sid& sid) noexcept {
    DWORD size = sizeof sid.bytes;
    return CreateWellKnownSid(type, nullptr, sid.Get(), &size) != FALSE;
}

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

// Administrators, SYSTEM or the agent's own user. Looked up once: a pass checks
// config.dat every minute.
bool TrustedSid(PSID sid) noexcept {
    static OwnerSids sids = LookUpOwnerSids();
    return sids.known && (EqualSid(sid, sids.admins.Get()) || EqualSid(sid, sids.system.Get()) ||
                          EqualSid(sid, sids.user.Get()));
}

bool TrustedOwner(HANDLE entry) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    if (GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &held) != ERROR_SUCCESS)
        return false;
    VbUniqueLocal descriptor(held);
    return TrustedSid(owner);
}

// Where the volume keeps access lists, a file's own must let nobody in but those
// who may own it, as the agent's own file does: one that an administrator opened
// up to users, or to everyone for reading, would show the password's salt and hash
// or take a standard user's changes. Deny entries take nothing away from that.
// (Wine reports such a volume and derives the lists from Unix permissions.)
bool TrustedAccess(HANDLE entry) noexcept {
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(entry, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return false;
    if (!(flags & FILE_PERSISTENT_ACLS)) return true;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    if (GetSecurityInfo(entry, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                        nullptr, &held) != ERROR_SUCCESS)
        return false;
    VbUniqueLocal descriptor(held);
    if (dacl == nullptr) return false;  // no list at all lets everyone in
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        BYTE type = static_cast<ACE_HEADER*>(ace)->AceType;
        if (type == ACCESS_DENIED_ACE_TYPE) continue;
        if (type != ACCESS_ALLOWED_ACE_TYPE ||
            !TrustedSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart))
            return false;
    }
    return true;
}

// OpenEntryItself already refused a link that only its path shows. The attributes
// alone: Wine's full query of a folder costs a millisecond.
bool IsPlainEntry(HANDLE entry, bool folder) noexcept {
    FILE_ATTRIBUTE_TAG_INFO info;
    return GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof info) &&
           !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

// The agent's own owner and access rights on its folder, through a handle to it.
bool SecureFolder(HANDLE folder) noexcept {
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted))
        return false;
    return SetSecurityInfo(folder, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Renames what stands at path to path.untrusted-<random>, beside it, through a
// handle to the entry itself opened for DELETE alone: administrators may rename
// anything in the data folder. Its owner and access rights stay as they are, so
// that an entry that cannot be moved (a standard user holds it open) stays foreign.
bool MoveAside(const wchar_t* path) noexcept {
    VbUniqueFile entry = OpenEntryItself(path, DELETE | SYNCHRONIZE);
    if (!entry) return false;
    // A name nobody can take first: the random part is drawn anew on each try.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        unsigned char random[8];
        if (!VbRandomBytes(random, sizeof random)) return false;
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

// Missing, the agent's own, or foreign: anything else, or anything the agent may not open.
EntryState Inspect(const wchar_t* path, bool folder) noexcept {
    VbUniqueFile entry = OpenEntryItself(path, READ_CONTROL);
    if (!entry) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryState::Missing
                                                                              : EntryState::Foreign;
    }
    return IsAgentEntry(entry.Get(), folder) ? EntryState::Usable : EntryState::Foreign;
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

// Deletes one entry through a handle to it, never through a link. True when it is gone.
bool DeleteEntry(const wchar_t* path, bool folder) noexcept {
    {
        VbUniqueFile entry = OpenEntryItself(path, DELETE);
        if (!entry) {
            DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        FILE_DISPOSITION_INFO dispose = {TRUE};
        if (!IsPlainEntry(entry.Get(), folder) ||
            !SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &dispose, sizeof dispose))
            return false;
    }
    // Gone once the handle is closed; a folder that is not empty stays.
    return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

VbUniqueLocal BuildConfigFolderDescriptor() noexcept {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ConfigFolderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return {};
    return VbUniqueLocal(descriptor);
}

int VbGetConfigDir(wchar_t* out, std::size_t capacity) noexcept {
    return VbJoin<wchar_t>({out, capacity}, {DataFolder(), kFolderName}) ? 1 : 0;
}

int VbGetConfigPath(wchar_t* out, std::size_t capacity) noexcept {
    return VbJoin<wchar_t>({out, capacity}, {DataFolder(), kFolderName, kFileName}) ? 1 : 0;
}

bool GetConfigPaths(ConfigPaths& paths) noexcept {
    return VbGetConfigDir(paths.folder, MAX_PATH) && VbGetConfigPath(paths.file, MAX_PATH) &&
           VbJoin<wchar_t>(paths.temp, {paths.file, ConfigTempSuffix});
}

VbUniqueFile OpenEntryItself(const wchar_t* path, DWORD access, DWORD share) noexcept {
    VbUniqueFile entry(
        CreateFileW(path, access | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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

bool IsAgentEntry(HANDLE entry, bool folder) noexcept {
    FILE_STANDARD_INFO standard;
    return IsPlainEntry(entry, folder) &&
           (folder ||
            (GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof standard) &&
             standard.NumberOfLinks == 1 && TrustedAccess(entry))) &&
           TrustedOwner(entry);
}

bool AgentFolderIsPlain(const wchar_t* folder, bool& missing) noexcept {
    DWORD attributes = GetFileAttributesW(folder);
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int VbEnsureConfigDir() noexcept {
    ConfigPaths paths;
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    if (!GetConfigPaths(paths) || !descriptor) return 0;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    if (!MakeUsable(paths.folder, true, &security)) return 0;

    // Ours now, or made before us by an administrator: its security is put right,
    // through a handle to the entry itself.
    VbUniqueFile entry = OpenEntryItself(paths.folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    if (!entry || !IsPlainEntry(entry.Get(), true) || !SecureFolder(entry.Get())) return 0;
    // Inside, the agent reads only config.dat and writes only its temporary file.
    // A temporary file is deleted by the next save, whoever made it; a folder or a
    // link under either name is not the agent's.
    if (!MakeUsable(paths.file, false, nullptr)) return 0;
    if (Inspect(paths.temp, false) == EntryState::Foreign) {
        DWORD attributes = GetFileAttributesW(paths.temp);
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            !MoveAside(paths.temp))
            return 0;
    }
    return 1;
}

int VbRemoveConfigDir() noexcept {
    ConfigPaths paths;
    if (!GetConfigPaths(paths)) return 0;
    bool missing = false;
    if (!AgentFolderIsPlain(paths.folder, missing)) return missing ? 1 : 0;
    // config.dat and its temporary file only, then the folder if nothing else is
    // left in it: what an administrator put there stays, and so does the folder.
    if (!DeleteEntry(paths.file, false) || !DeleteEntry(paths.temp, false)) return 0;
    DeleteEntry(paths.folder, true);
    return 1;
}
