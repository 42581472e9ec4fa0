// config.dat on disk: where it lives, how it is read, how it is replaced.
#include "config/config.h"

#include <windows.h>

#include "common/vb_file.h"
#include "common/vb_handle.h"
#include "common/vb_lock.h"
#include "config/config_core.h"
#include "config/config_folder.h"

int VbLoadConfig(VbConfig* config) noexcept {
    SetFirstStartDefaults(*config);
    ConfigPaths paths;
    if (!GetConfigPaths(paths)) return 0;
    // By path, which shows a link itself and never its target: config.dat is
    // opened through the folder. A pass reads it every minute.
    bool missing = false;
    if (!AgentFolderIsPlain(paths.folder, missing)) return missing ? 1 : 0;

    // Read sharing only: a file another program is writing is not read half-done.
    VbUniqueFile file = OpenEntryItself(paths.file, GENERIC_READ, FILE_SHARE_READ);
    if (!file) {
        DWORD error = GetLastError();
        // Only a file that is not there is a first start.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    // A file a standard user made, or one with a second name elsewhere, is not
    // the parent's.
    if (!IsAgentEntry(file.Get(), false)) return 0;

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

int VbLoadSecuredConfig(VbConfig* config) noexcept {
    VbMachineLock lock;
    if (VbEnsureConfigDir()) return VbLoadConfig(config);
    SetFirstStartDefaults(*config);
    return 0;
}

int VbSaveConfig(const VbConfig* config) noexcept {
    // Never beside a pass, which reads the file and checks the folder.
    VbMachineLock lock;
    char text[ConfigTextMax];
    std::size_t length = FormatConfigText(*config, text);

    ConfigPaths paths;
    VbUniqueLocal descriptor = BuildConfigFolderDescriptor();
    if (!VbEnsureConfigDir() || !descriptor || !GetConfigPaths(paths)) return 0;
    // Owned by Administrators whichever administrator saves, so that the next
    // start, under another administrator's account, trusts it as the agent's.
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.Get(), FALSE};
    return VbReplaceFile(paths.file, paths.temp, {text, length},
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, FILE_ATTRIBUTE_NORMAL,
                         &security)
               ? 1
               : 0;
}
