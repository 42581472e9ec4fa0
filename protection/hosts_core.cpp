// The hosts-file transformation as bytes to bytes, without any I/O.
#include "protection/hosts_core.h"

#include <algorithm>
#include <cstring>
#include <cstdint>

#include "common/vb_text.h"

namespace {

// The marker text of a last line, without the line end that would make it a marker.
constexpr std::string_view kBeginText = HostsBeginMarker.substr(0, HostsBeginMarker.size() - 2);

// memchr for '#', eight bytes at a time: Wine's C runtime reads byte by byte.
// x has a zero byte where the text has '#', and (x - 0x01..) & ~x & 0x80.. is
// non-zero exactly when x has a zero byte.
std::size_t FindHash(std::string_view text, std::size_t from) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    for (; from + 8 <= text.size(); from += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + from, 8);
        std::uint64_t x = word ^ (kOnes * '#');
        if ((x - kOnes) & ~x & kHighs) break;
    }
    for (; from < text.size(); ++from)
        if (text[from] == '#') return from;
    return std::string_view::npos;
}

// Markers start with '#': only there is the whole marker compared.
std::size_t FindMarker(std::string_view text, std::string_view marker, std::size_t from) noexcept {
    for (from = FindHash(text, from); from != std::string_view::npos;
         from = FindHash(text, from + 1))
        if (text.substr(from, marker.size()) == marker) return from;
    return std::string_view::npos;
}

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

// What goes between the text before the removed block and the text after it.
// Joined as they are, they may form a begin marker, and the next pass would drop
// the user's lines from there to the new block. A CR LF keeps them apart, except
// after the marker's own text, which a CR LF would complete: a lone CR does it there.
std::string_view Join(std::string_view head, std::string_view tail) noexcept {
    for (std::size_t k = 1; k < HostsBeginMarker.size(); ++k) {
        if (head.ends_with(HostsBeginMarker.substr(0, k)) &&
            tail.starts_with(HostsBeginMarker.substr(k)))
            return k == kBeginText.size() ? "\r" : "\r\n";
    }
    return {};
}

// Gluing the marker onto an unfinished last line would change that line's entry;
// but a last line that is the begin marker's text without its line end would
// become a begin marker, and the next pass would drop it as the start of a block.
bool NeedsLineBreak(std::string_view retained, int writable) noexcept {
    return writable != 0 && !retained.empty() && retained.back() != '\n' &&
           !retained.ends_with(kBeginText);
}

}  // namespace

std::size_t HostsCapacity(std::size_t size, const char (*sites)[VbSiteSlotSize],
                          int count) noexcept {
    // A join and a final line break, two bytes each, at most.
    return size + 4 + BlockSize(sites, count);
}

std::size_t RewriteHosts(std::span<char> buffer, std::size_t size,
                         const char (*sites)[VbSiteSlotSize], int count) noexcept {
    std::string_view content(buffer.data(), size);
    std::size_t headSize = size;
    std::size_t tailFrom = size;
    std::size_t begin = FindMarker(content, HostsBeginMarker, 0);
    if (begin != std::string_view::npos) {
        headSize = begin;
        // An end marker before the begin marker is ordinary text.
        std::size_t end = FindMarker(content, HostsEndMarker, begin);
        if (end != std::string_view::npos) tailFrom = end + HostsEndMarker.size();
    }
    std::string_view join = Join(content.substr(0, headSize), content.substr(tailFrom));
    std::size_t tailSize = size - tailFrom;

    // The tail moves left over the old block, which is longer than any join.
    char* out = buffer.data();
    std::memmove(out + headSize + join.size(), out + tailFrom, tailSize);
    if (!join.empty()) std::memcpy(out + headSize, join.data(), join.size());
    std::size_t used = headSize + join.size() + tailSize;

    auto put = [&](std::string_view bytes) {
        std::memcpy(out + used, bytes.data(), bytes.size());
        used += bytes.size();
    };
    int writable = WritableCount(sites, count);
    if (NeedsLineBreak({out, used}, writable)) put("\r\n");
    if (writable == 0) return used;
    put(HostsBeginMarker);
    for (int i = 0; i < UsableCount(sites, count); ++i) {
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
