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

// What a replacement keeps of the old file's attributes: the file is written
// anew, so read-only goes (many tools set it, and it refuses the replacement).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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

int ApplyBlockInternal(const char (*sites)[VbSiteSlotSize], int siteCount) noexcept {
    HostsPaths paths;
    if (!GetHostsPaths(paths)) return 0;

    // One buffer, read into and rewritten in place, sized for the new content.
    // A file that is not there reads as empty; one that exists but cannot be read
    // whole must not be replaced.
    std::unique_ptr<char[]> buffer;
    std::size_t size = 0;
    {
        VbUniqueFile file(CreateFileW(paths.hosts, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && GetLastError() != ERROR_FILE_NOT_FOUND) return 0;
        LARGE_INTEGER fileSize = {};
        if (file && (!GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart < 0 ||
                     static_cast<unsigned long long>(fileSize.QuadPart) > HostsMaxFileSize))
            return 0;
        size = static_cast<std::size_t>(fileSize.QuadPart);
        buffer.reset(new (std::nothrow) char[HostsCapacity(size, sites, siteCount)]);
        if (!buffer) return 0;
        DWORD got = 0;
        if (file && (!ReadFile(file.Get(), buffer.get(), static_cast<DWORD>(size), &got, nullptr) ||
                     got != size))
            return 0;
    }
    std::size_t length =
        RewriteHosts({buffer.get(), HostsCapacity(size, sites, siteCount)}, size, sites, siteCount);

    DWORD attributes = GetFileAttributesW(paths.hosts);
    attributes = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(paths.hosts, attributes & ~FILE_ATTRIBUTE_READONLY);
    DWORD kept = attributes & kKeptAttributes;
    if (VbReplaceFile(paths.hosts, paths.temp, {buffer.get(), length}, MOVEFILE_REPLACE_EXISTING,
                      kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, nullptr))
        return 1;
    if (readOnly) SetFileAttributesW(paths.hosts, attributes);  // left as it was
    return 0;
}

}  // namespace

int VbApplyHostsBlock(const char (*sites)[VbSiteSlotSize], int siteCount) noexcept {
    return ApplyBlockInternal(sites, siteCount);
}

int VbClearHostsBlock() noexcept {
    return ApplyBlockInternal(nullptr, 0);
}
