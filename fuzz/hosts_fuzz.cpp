// Fuzz target of the hosts-file rewrite (protection/hosts_core.h). Input: a flags byte,
// a signed site count, a length byte and the bytes of each used slot's name, then the
// hosts file. The expected file is built here from the markers and the entry format.

#include "fuzz/fuzz_check.h"
#include "protection/hosts_core.h"

namespace {

// What the settings window lets the parent store in a site name.
constexpr std::string_view kHostChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.";
constexpr std::string_view kBegin = "# >>> Vellumbrook >>>\r\n";
constexpr std::string_view kEnd = "# <<< Vellumbrook <<<\r\n";
constexpr std::string_view kBeginText = kBegin.substr(0, kBegin.size() - 2);

enum Flags : std::uint8_t {
    kRawNames = 1,      // any bytes but '#' in the slots, not only host-name characters
    kNoTerminator = 2,  // raw slots filled to their end, without a NUL
    kNullSites = 4,     // the clear call: no slots at all
    kHashInNames = 8,   // raw slots may hold '#', and so marker text (such names are left out)
};
using Slot = char[VbSiteSlotSize];

std::size_t CountBegin(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t at = text.find(kBegin); at != text.npos; at = text.find(kBegin, at + 1))
        ++n;
    return n;
}

struct Expected {
    std::string_view head, tail;  // around the first block
    std::string kept, before, block;
};

// The first block runs from the first begin marker to the first end marker after it,
// or to the end. A CR LF keeps head and tail from joining into a begin marker (a lone
// CR after the marker's text), and ends an unfinished last line before the new block
// (unless that line holds the marker's text).
Expected Expect(std::string_view content, const Slot* slots, int used) {
    Expected e;
    std::size_t begin = content.find(kBegin);
    std::size_t end = begin == content.npos ? begin : content.find(kEnd, begin);
    e.head = content.substr(0, begin);
    e.tail = end == content.npos ? "" : content.substr(end + kEnd.size());
    std::string joined = std::string(e.head) + std::string(e.tail);
    bool formed = CountBegin(joined) > CountBegin(e.head) + CountBegin(e.tail);
    std::string_view join = !formed ? "" : e.head.ends_with(kBeginText) ? "\r" : "\r\n";
    e.kept = std::string(e.head) + std::string(join) + std::string(e.tail);
    for (int i = 0; i < used; ++i) {
        std::string_view name(slots[i], strnlen(slots[i], VbSiteSlotSize - 1));
        if (name.find_first_of("#\r\n") != name.npos) continue;  // would break the block
        for (std::string_view prefix : {"127.0.0.1 ", "127.0.0.1 www.", "::1 ", "::1 www."})
            e.block.append(prefix).append(name).append("\r\n");
    }
    if (!e.block.empty()) e.block = std::string(kBegin) + e.block + std::string(kEnd);
    bool lineBreak = !e.block.empty() && !e.kept.empty() && e.kept.back() != '\n' &&
                     !e.kept.ends_with(kBeginText);
    e.before = e.kept + (lineBreak ? "\r\n" : "");
    return e;
}

std::string Apply(std::string_view content, const Slot* slots, int count) {
    // Exactly the announced room: a write past it is an ASan report.
    std::vector<char> buffer(HostsCapacity(content.size(), slots, count));
    std::copy(content.begin(), content.end(), buffer.begin());
    std::size_t written = RewriteHosts(buffer, content.size(), slots, count);
    FUZZ_CHECK(written <= buffer.size());
    return std::string(buffer.data(), written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::uint8_t flags = input.Byte();
    int count = static_cast<std::int8_t>(input.Byte());
    bool raw = (flags & kRawNames) != 0;
    Slot sites[VbMaxSites] = {};
    int used = (flags & kNullSites) != 0 ? 0 : std::clamp(count, 0, VbMaxSites);
    for (int i = 0; i < used; ++i) {
        std::string_view bytes = input.Bytes(input.Byte());
        if (raw && (flags & kNoTerminator) != 0) std::memset(sites[i], 'z', VbSiteSlotSize);
        // Never empty: neither config.dat nor the settings window stores an empty name.
        if (!raw && bytes.empty()) bytes = "a";
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            char c = bytes[k];
            // Host-name bytes stay, so that seeds read as names; others map onto them.
            if (!raw && kHostChars.find(c) == kHostChars.npos)
                c = kHostChars[static_cast<std::uint8_t>(c) % kHostChars.size()];
            sites[i][k] = raw && c == '#' && (flags & kHashInNames) == 0 ? '+' : c;
        }
    }
    const Slot* slots = (flags & kNullSites) != 0 ? nullptr : sites;
    std::string_view content = input.left;
    Expected e = Expect(content, sites, used);

    std::string once = Apply(content, slots, count);
    FUZZ_CHECK(once == e.before + e.block);
    // A clear writes no marker and adds nothing.
    FUZZ_CHECK(Apply(content, nullptr, count) == e.kept);
    FUZZ_CHECK(Apply(content, sites, 0) == e.kept);
    // No begin marker is formed where the kept text was joined, nor before the block.
    std::size_t markers = CountBegin(e.head) + CountBegin(e.tail);
    FUZZ_CHECK(CountBegin(once) == markers + (e.block.empty() ? 0 : 1));

    // The next pass changes nothing, or takes away a second block's begin marker left
    // in the kept text: the passes come to rest with the block last. (Many markers
    // would cost more than they find.)
    if (markers > 4) return 0;
    std::string current = once;
    for (std::size_t pass = 1;; ++pass) {
        std::string next = Apply(current, slots, count);
        FUZZ_CHECK(next.ends_with(e.block));
        if (next == current) break;
        FUZZ_CHECK(markers != 0 && pass < 2 + e.before.size() / kBeginText.size());
        current = std::move(next);
    }
    // A clear after an apply leaves the original bytes and at most the CR LF.
    if (markers == 0) FUZZ_CHECK(Apply(once, nullptr, 0) == e.before);
    return 0;
}
