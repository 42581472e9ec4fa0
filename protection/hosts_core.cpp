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

// A name that would break the block is left out. A line break would add hosts
// lines of its own, and a '#' can carry marker text that the next pass takes for
// a marker, so that every pass adds to the file. Only a hand-edited config.dat
// holds such a name: the settings window stores letters, digits, '-' and '.'.
bool IsWritable(std::string_view name) noexcept {
    return name.find_first_of("#\r\n") == std::string_view::npos;
}

int WritableCount(const char (*sites)[VbSiteSlotSize], int count) noexcept {
    int writable = 0;
    for (int i = 0; i < UsableCount(sites, count); ++i)
        writable += IsWritable(Entry(sites, i));
    return writable;
}

std::size_t BlockSize(const char (*sites)[VbSiteSlotSize], int count) noexcept {
    if (WritableCount(sites, count) == 0) return 0;
    std::size_t size = HostsBeginMarker.size() + HostsEndMarker.size();
    for (int i = 0; i < UsableCount(sites, count); ++i) {
        std::string_view name = Entry(sites, i);
        if (IsWritable(name)) size += 44 + 4 * name.size();
    }
    return size;
}

// Whether head followed by tail ends with suffix.
bool RetainedEndsWith(const HostsRetained& retained, std::string_view suffix) noexcept {
    if (retained.tail.size() >= suffix.size()) return retained.tail.ends_with(suffix);
    std::size_t fromHead = suffix.size() - retained.tail.size();
    return retained.head.size() >= fromHead &&
           retained.head.ends_with(suffix.substr(0, fromHead)) &&
           suffix.substr(fromHead) == retained.tail;
}

bool NeedsLineBreak(const HostsRetained& retained, int writable) noexcept {
    // Gluing the marker onto an unfinished last line would change that line's entry.
    std::string_view last = !retained.tail.empty() ? retained.tail : retained.head;
    if (writable == 0 || last.empty() || last.back() == '\n') return false;
    // A last line that is the begin marker's text without its line end would become
    // a begin marker, and the next pass would drop it as the start of a block.
    return !RetainedEndsWith(retained, HostsBeginMarker.substr(0, HostsBeginMarker.size() - 2));
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
    bool lineBreak = NeedsLineBreak(retained, WritableCount(sites, count));
    return retained.head.size() + retained.tail.size() + (lineBreak ? 2 : 0) +
           BlockSize(sites, count);
}

std::size_t WriteNewHosts(const HostsRetained& retained, const char (*sites)[VbSiteSlotSize],
                          int count, std::span<char> out) noexcept {
    int writable = WritableCount(sites, count);
    count = UsableCount(sites, count);
    std::size_t used = 0;
    auto put = [&](std::string_view bytes) {
        if (bytes.empty()) return;
        std::memcpy(out.data() + used, bytes.data(), bytes.size());
        used += bytes.size();
    };
    put(retained.head);
    put(retained.tail);
    if (NeedsLineBreak(retained, writable)) put("\r\n");
    if (writable == 0) return used;
    put(HostsBeginMarker);
    for (int i = 0; i < count; ++i) {
        std::string_view name = Entry(sites, i);
        if (!IsWritable(name)) continue;
        put("127.0.0.1 "), put(name), put("\r\n");
        put("127.0.0.1 www."), put(name), put("\r\n");
        put("::1 "), put(name), put("\r\n");
        put("::1 www."), put(name), put("\r\n");
    }
    put(HostsEndMarker);
    return used;
}
