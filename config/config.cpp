// config.dat on disk: where it lives, how it is read, how it is replaced.
#include "config/config.h"

#include <windows.h>

#include <string_view>

#include "common/vb_file.h"
#include "common/vb_handle.h"
#include "common/vb_text.h"
#include "config/config_core.h"
#include "config/config_folder.h"

namespace {

constexpr std::wstring_view kFileName = L"\\config.dat";

enum class FolderState { Missing, Plain, Refused };

// By path, which shows a link itself and never its target: config.dat is opened
// by path after it all the same, and a pass reads it every minute.
FolderState CheckAgentFolder() noexcept {
    wchar_t folder[MAX_PATH];
    if (!GetAgentFolder(folder)) return FolderState::Refused;
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FolderState::Missing
                   : FolderState::Refused;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)
               ? FolderState::Refused
               : FolderState::Plain;
}

}  // namespace

int VbGetConfigDir(wchar_t* out, std::size_t capacity) noexcept {
    return VbJoin<wchar_t>({out, capacity}, {DataFolder(), AgentFolderName}) ? 1 : 0;
}

int VbGetConfigPath(wchar_t* out, std::size_t capacity) noexcept {
    return VbJoin<wchar_t>({out, capacity}, {DataFolder(), AgentFolderName, kFileName}) ? 1 : 0;
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
    // A file a standard user made, in a folder the agent could not take back, is
    // not the parent's.
    if (!TrustedOwner(file.Get())) return 0;

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
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    if (!descriptor || !VbGetConfigPath(path, MAX_PATH) ||
        !VbJoin<wchar_t>(temp, {path, ConfigTempSuffix}))
        return 0;
    // Owned by Administrators whichever administrator saves, so that the next
    // start, under another administrator's account, trusts it as the agent's.
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    return VbReplaceFile(path, temp, {text, length},
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, FILE_ATTRIBUTE_NORMAL,
                         &security)
               ? 1
               : 0;
}
