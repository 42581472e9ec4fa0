// The hosts-file transformation as bytes to bytes, without any I/O.
#include "protection/hosts_core.h"

#include <algorithm>
#include <cstring>

#include "common/vb_text.h"

namespace {

int UsableCount(const char (*sites)[VbSiteSlotSize], int count) noexcept {
    return sites == nullptr ? 0 : std::clamp(count, 0, VbMaxSites);
}

std::string_view Entry(const char (*sites)[VbSiteSlotSize], int i) noexcept {
    return VbFieldText(sites[i]).substr(0, VbSiteSlotSize - 1);
}

std::size_t BlockSize(const char (*sites)[VbSiteSlotSize], int count) noexcept {
    if (count == 0) return 0;
    std::size_t size = HostsBeginMarker.size() + HostsEndMarker.size();
    for (int i = 0; i < count; ++i)
        size += 44 + 4 * Entry(sites, i).size();
    return size;
}

bool NeedsLineBreak(const HostsRetained& retained, int count) noexcept {
    // Gluing the marker onto an unfinished last line would change that line's entry.
    std::string_view last = !retained.tail.empty() ? retained.tail : retained.head;
    return count != 0 && !last.empty() && last.back() != '\n';
}

}  // namespace

HostsRetained RemoveFirstBlock(std::string_view content) noexcept {
    std::size_t begin = content.find(HostsBeginMarker);
    if (begin == std::string_view::npos) return {content, {}};
    // An end marker before the begin marker is ordinary text.
    std::size_t end = content.find(HostsEndMarker, begin);
    if (end == std::string_view::npos) return {content.substr(0, begin), {}};
    return {content.substr(0, begin), content.substr(end + HostsEndMarker.size())};
}

std::size_t NewHostsSize(const HostsRetained& retained, const char (*sites)[VbSiteSlotSize],
                         int count) noexcept {
    count = UsableCount(sites, count);
    return retained.head.size() + retained.tail.size() + (NeedsLineBreak(retained, count) ? 2 : 0) +
           BlockSize(sites, count);
}

std::size_t WriteNewHosts(const HostsRetained& retained, const char (*sites)[VbSiteSlotSize],
                          int count, std::span<char> out) noexcept {
    count = UsableCount(sites, count);
    std::size_t used = 0;
    auto put = [&](std::string_view bytes) {
        if (bytes.empty()) return;
        std::memcpy(out.data() + used, bytes.data(), bytes.size());
        used += bytes.size();
    };
    put(retained.head);
    put(retained.tail);
    if (NeedsLineBreak(retained, count)) put("\r\n");
    if (count == 0) return used;
    put(HostsBeginMarker);
    for (int i = 0; i < count; ++i) {
        std::string_view name = Entry(sites, i);
        put("127.0.0.1 "), put(name), put("\r\n");
        put("127.0.0.1 www."), put(name), put("\r\n");
        put("::1 "), put(name), put("\r\n");
        put("::1 www."), put(name), put("\r\n");
    }
    put(HostsEndMarker);
    return used;
}
