// config.dat on disk: where it lives, how it is read, how it is replaced.
#include "config/config.h"

#include <windows.h>
#include <shlobj.h>

#include <string_view>

#include "common/vb_file.h"
#include "common/vb_handle.h"
#include "common/vb_text.h"
#include "config/config_core.h"

namespace {

constexpr std::wstring_view kAgentFolder = L"\\Vellumbrook";
constexpr std::wstring_view kFileName = L"\\config.dat";
constexpr std::wstring_view kTempSuffix = L".vb_tmp";

void LookUpDataFolder(wchar_t (&folder)[MAX_PATH]) noexcept {
    folder[0] = L'\0';
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                folder)))
        lstrcpynW(folder, L"C:\\ProgramData", MAX_PATH);
}

bool GetAgentFolder(wchar_t (&out)[MAX_PATH]) noexcept {
    wchar_t folder[MAX_PATH];
    LookUpDataFolder(folder);
    return VbJoin<wchar_t>(out, {folder, kAgentFolder});
}

}  // namespace

int VbGetConfigPath(wchar_t* out, std::size_t capacity) noexcept {
    wchar_t folder[MAX_PATH];
    LookUpDataFolder(folder);
    return VbJoin<wchar_t>({out, capacity}, {folder, kAgentFolder, kFileName}) ? 1 : 0;
}

int VbEnsureConfigDir() noexcept {
    wchar_t folder[MAX_PATH];
    if (!GetAgentFolder(folder)) return 0;
    if (CreateDirectoryW(folder, nullptr)) return 1;
    return GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
}

int VbLoadConfig(VbConfig* config) noexcept {
    SetFirstStartDefaults(*config);
    wchar_t path[MAX_PATH];
    if (!VbGetConfigPath(path, MAX_PATH)) return 0;

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

    VbEnsureConfigDir();
    wchar_t path[MAX_PATH];
    wchar_t temp[MAX_PATH];
    if (!VbGetConfigPath(path, MAX_PATH) || !VbJoin<wchar_t>(temp, {path, kTempSuffix})) return 0;

    return VbReplaceFile(path, temp, {text, length},
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 1
               : 0;
}
