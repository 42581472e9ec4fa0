// config.dat on disk: where it lives, how it is read, how it is replaced.
#include "config/config.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <string_view>

#include "common/vb_file.h"
#include "common/vb_handle.h"
#include "common/vb_text.h"
#include "config/config_core.h"
#include "config/config_folder.h"

namespace {

constexpr std::wstring_view kAgentFolder = L"\\Vellumbrook";
constexpr std::wstring_view kFileName = L"\\config.dat";
constexpr std::wstring_view kTempSuffix = L".vb_tmp";

void LookUpDataFolder(wchar_t (&folder)[MAX_PATH]) noexcept {
    folder[0] = L'\0';
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        lstrcpynW(folder, L"C:\\ProgramData", MAX_PATH);
}

bool GetAgentFolder(wchar_t (&out)[MAX_PATH]) noexcept {
    wchar_t folder[MAX_PATH];
    LookUpDataFolder(folder);
    return VbJoin<wchar_t>(out, {folder, kAgentFolder});
}

// Opens the folder entry itself: a junction or symbolic link is never followed.
VbUniqueFile OpenFolderEntry(const wchar_t* folder, DWORD access) noexcept {
    return VbUniqueFile(CreateFileW(
        folder, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A real folder, not a link to somewhere a standard user chose.
bool IsPlainFolder(HANDLE entry, const wchar_t* folder) noexcept {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(entry, &info)) return false;
    // Wine reports a link's reparse attribute only by path; Windows reports it by both.
    DWORD byPath = GetFileAttributesW(folder);
    DWORD attributes = info.dwFileAttributes | (byPath == INVALID_FILE_ATTRIBUTES ? 0 : byPath);
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

enum class FolderState { Missing, Plain, Refused };

FolderState CheckAgentFolder() noexcept {
    wchar_t folder[MAX_PATH];
    if (!GetAgentFolder(folder)) return FolderState::Refused;
    VbUniqueFile entry = OpenFolderEntry(folder, FILE_READ_ATTRIBUTES);
    if (!entry) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FolderState::Missing
                   : FolderState::Refused;
    }
    return IsPlainFolder(entry.Get(), folder) ? FolderState::Plain : FolderState::Refused;
}

}  // namespace

VbUniqueLocal BuildConfigFolderDescriptor() noexcept {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ConfigFolderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return {};
    return VbUniqueLocal(descriptor);
}

int VbGetConfigPath(wchar_t* out, std::size_t capacity) noexcept {
    wchar_t folder[MAX_PATH];
    LookUpDataFolder(folder);
    return VbJoin<wchar_t>({out, capacity}, {folder, kAgentFolder, kFileName}) ? 1 : 0;
}

int VbEnsureConfigDir() noexcept {
    wchar_t folder[MAX_PATH];
    if (!GetAgentFolder(folder)) return 0;
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    if (!descriptor) return 0;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    if (CreateDirectoryW(folder, &security)) return 1;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 0;

    // A standard user may have made the folder first: take it back, through a
    // handle to the entry itself so that a link is refused, never re-secured.
    VbUniqueFile entry =
        OpenFolderEntry(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES);
    if (!entry || !IsPlainFolder(entry.Get(), folder)) return 0;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted))
        return 0;
    DWORD status = SetSecurityInfo(entry.Get(), SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   owner, nullptr, dacl, nullptr);
    return status == ERROR_SUCCESS ? 1 : 0;
}

int VbLoadConfig(VbConfig* config) noexcept {
    SetFirstStartDefaults(*config);
    wchar_t path[MAX_PATH];
    if (!VbGetConfigPath(path, MAX_PATH)) return 0;
    switch (CheckAgentFolder()) {
        case FolderState::Missing:
            return 1;
        case FolderState::Refused:
            return 0;
        case FolderState::Plain:
            break;
    }

    // Read sharing only: a file another program is writing is not read half-done.
    VbUniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        // Only a file that is not there is a first start.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }

    auto fill = [&file](std::span<char> buffer) -> long {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return -1;
        return static_cast<long>(got);
    };
    if (!ReadConfig(fill, *config)) {
        SetFirstStartDefaults(*config);
        return 0;
    }
    return 1;
}

int VbSaveConfig(const VbConfig* config) noexcept {
    char text[ConfigTextMax];
    std::size_t length = FormatConfigText(*config, text);

    if (!VbEnsureConfigDir()) return 0;
    wchar_t path[MAX_PATH];
    wchar_t temp[MAX_PATH];
    if (!VbGetConfigPath(path, MAX_PATH) || !VbJoin<wchar_t>(temp, {path, kTempSuffix})) return 0;

    return VbReplaceFile(path, temp, {text, length},
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 1
               : 0;
}
