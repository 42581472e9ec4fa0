// Reads the system hosts file, puts the agent's block at its end, and replaces
// the file in one step through a flushed temporary file.
#include "protection/hosts.h"

#include <windows.h>

#include <memory>
#include <new>
#include <string_view>

#include "common/vb_file.h"
#include "common/vb_handle.h"
#include "common/vb_text.h"
#include "protection/hosts_core.h"

namespace {

struct HostsPaths {
    wchar_t hosts[MAX_PATH];
    wchar_t temp[MAX_PATH];
};

bool GetHostsPaths(HostsPaths& paths) noexcept {
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    return VbJoin<wchar_t>(paths.hosts, {system, L"\\drivers\\etc\\hosts"}) &&
           VbJoin<wchar_t>(paths.temp, {paths.hosts, L".vb_tmp"});
}

// The current bytes of the hosts file; a file that is not there reads as empty.
// False when the file exists but cannot be read whole: it must not be replaced.
bool ReadHosts(const wchar_t* path, std::unique_ptr<char[]>& content, std::size_t& size) noexcept {
    size = 0;
    VbUniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND;

    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart < 0 ||
        static_cast<unsigned long long>(fileSize.QuadPart) > HostsMaxFileSize)
        return false;
    size = static_cast<std::size_t>(fileSize.QuadPart);
    content.reset(new (std::nothrow) char[size + 1]);
    if (!content) return false;
    DWORD got = 0;
    if (!ReadFile(file.Get(), content.get(), static_cast<DWORD>(size), &got, nullptr) ||
        got != size)
        return false;
    return true;
}

int ApplyBlockInternal(const char (*sites)[VbSiteSlotSize], int siteCount) noexcept {
    HostsPaths paths;
    if (!GetHostsPaths(paths)) return 0;

    std::unique_ptr<char[]> content;
    std::size_t size = 0;
    if (!ReadHosts(paths.hosts, content, size)) return 0;

    HostsRetained retained = RemoveFirstBlock(std::string_view(content.get(), size));
    std::size_t newSize = NewHostsSize(retained, sites, siteCount);
    // Every buffer exists before the temporary file is created.
    std::unique_ptr<char[]> updated(new (std::nothrow) char[newSize + 1]);
    if (!updated) return 0;
    std::size_t length = WriteNewHosts(retained, sites, siteCount, {updated.get(), newSize});
    return VbReplaceFile(paths.hosts, paths.temp, {updated.get(), length},
                         MOVEFILE_REPLACE_EXISTING)
               ? 1
               : 0;
}

}  // namespace

int VbApplyHostsBlock(const char (*sites)[VbSiteSlotSize], int siteCount) noexcept {
    return ApplyBlockInternal(sites, siteCount);
}

int VbClearHostsBlock() noexcept {
    return ApplyBlockInternal(nullptr, 0);
}
