// Fuzz target of the hosts-file transformation (protection/hosts_core.h).
//
// Input: a flags byte, a signed site count, then for each used slot a length
// byte and the name's bytes, then the hosts file. The expected result is built
// here from the markers and the entry format, without the code under test.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "protection/hosts_core.h"

namespace {

constexpr std::string_view kBegin = "# >>> Vellumbrook >>>\r\n";
constexpr std::string_view kEnd = "# <<< Vellumbrook <<<\r\n";
// Letters, digits, '-' and '.': what the settings window lets the parent store.
constexpr std::string_view kHostChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.";
static_assert(kHostChars.size() == 64);

enum Flags : std::uint8_t {
    kRawNames = 1,      // any bytes but '#' in the slots, not only host-name characters
    kNoTerminator = 2,  // raw slots filled to their end, without a NUL
    kNullSites = 4,     // the clear call: no slots at all
    kHashInNames = 8,   // raw slots may hold '#', and so marker text (such names are left out)
};

struct Sites {
    char slots[VbMaxSites][VbSiteSlotSize] = {};
};

// Plain left-to-right search, kept apart from std::string_view::find.
FUZZ_REFERENCE std::size_t Search(std::string_view text, std::string_view pattern,
                                  std::size_t from) {
    for (std::size_t i = from; i + pattern.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < pattern.size() && text[i + k] == pattern[k])
            ++k;
        if (k == pattern.size()) return i;
    }
    return std::string_view::npos;
}

struct Kept {
    std::string_view head;
    std::string_view tail;
};

// The first block runs from the first begin marker to the first end marker after
// it, or to the end of the file when none follows.
FUZZ_REFERENCE Kept ExpectedKept(std::string_view content) {
    std::size_t begin = Search(content, kBegin, 0);
    if (begin == std::string_view::npos) return {content, {}};
    std::size_t end = Search(content, kEnd, begin + kBegin.size());
    if (end == std::string_view::npos) return {content.substr(0, begin), {}};
    return {content.substr(0, begin), content.substr(end + kEnd.size())};
}

// A slot's name: up to its NUL, at most 255 bytes.
FUZZ_REFERENCE std::string_view SlotName(const char (&slot)[VbSiteSlotSize]) {
    std::size_t n = 0;
    while (n < VbSiteSlotSize - 1 && slot[n] != '\0')
        ++n;
    return {slot, n};
}

// Names with a line break or a '#' would break the block: they are left out.
FUZZ_REFERENCE bool Writable(std::string_view name) {
    for (char c : name)
        if (c == '#' || c == '\r' || c == '\n') return false;
    return true;
}

FUZZ_REFERENCE int WritableCount(const Sites& sites, int used) {
    int writable = 0;
    for (int i = 0; i < used; ++i)
        writable += Writable(SlotName(sites.slots[i])) ? 1 : 0;
    return writable;
}

FUZZ_REFERENCE std::string ExpectedBlock(const Sites& sites, int used) {
    if (WritableCount(sites, used) == 0) return {};
    std::string block(kBegin);
    for (int i = 0; i < used; ++i) {
        if (!Writable(SlotName(sites.slots[i]))) continue;
        std::string name(SlotName(sites.slots[i]));
        for (std::string_view prefix : {"127.0.0.1 ", "127.0.0.1 www.", "::1 ", "::1 www."})
            block.append(prefix).append(name).append("\r\n");
    }
    block.append(kEnd);
    return block;
}

std::string Apply(std::string_view content, const char (*sites)[VbSiteSlotSize], int count) {
    // Exactly the announced room: a write past it is an ASan report.
    std::vector<char> buffer(HostsCapacity(content.size(), sites, count));
    FUZZ_CHECK(buffer.size() >= content.size());
    std::copy(content.begin(), content.end(), buffer.begin());
    std::size_t written = RewriteHosts(buffer, content.size(), sites, count);
    FUZZ_CHECK(written <= buffer.size());
    return std::string(buffer.data(), written);
}

FUZZ_REFERENCE bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}
FUZZ_REFERENCE bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::uint8_t flags = input.Byte();
    int count = static_cast<std::int8_t>(input.Byte());

    Sites sites;
    int used = (flags & kNullSites) != 0 ? 0 : std::clamp(count, 0, VbMaxSites);
    for (int i = 0; i < used; ++i) {
        std::size_t length = input.Byte();
        std::string_view bytes = input.Bytes(length);
        char* slot = sites.slots[i];
        if ((flags & kRawNames) != 0) {
            if ((flags & kNoTerminator) != 0) std::memset(slot, 'z', VbSiteSlotSize);
            for (std::size_t k = 0; k < bytes.size(); ++k)
                slot[k] = bytes[k] == '#' && (flags & kHashInNames) == 0 ? '+' : bytes[k];
        } else {
            // Never empty: neither config.dat nor the settings window stores an empty name.
            if (bytes.empty()) bytes = "a";
            // Host-name bytes stay as they are, so that seeds read as names; others map onto them.
            for (std::size_t k = 0; k < bytes.size(); ++k) {
                auto byte = static_cast<std::uint8_t>(bytes[k]);
                bool host =
                    byte != 0 && kHostChars.find(static_cast<char>(byte)) != kHostChars.npos;
                slot[k] = host ? static_cast<char>(byte) : kHostChars[byte % kHostChars.size()];
            }
        }
    }
    const char(*slots)[VbSiteSlotSize] = (flags & kNullSites) != 0 ? nullptr : sites.slots;
    std::string_view content = input.Rest();

    Kept kept = ExpectedKept(content);
    // Where the text around the removed block would join into a begin marker, a CR LF
    // keeps it apart; a lone CR after the marker's own text, which CR LF would complete.
    std::string_view join;
    for (std::size_t k = 1; k < kBegin.size(); ++k)
        if (EndsWith(kept.head, kBegin.substr(0, k)) && StartsWith(kept.tail, kBegin.substr(k)))
            join = k == kBegin.size() - 2 ? "\r" : "\r\n";
    std::string keptText = std::string(kept.head) + std::string(join) + std::string(kept.tail);
    std::string block = ExpectedBlock(sites, used);
    // No CR LF would complete a begin marker out of a last line holding its text.
    bool lineBreak = WritableCount(sites, used) != 0 && !keptText.empty() &&
                     keptText.back() != '\n' &&
                     !EndsWith(keptText, kBegin.substr(0, kBegin.size() - 2));
    std::string before = keptText + (lineBreak ? "\r\n" : "");

    std::string once = Apply(content, slots, count);
    // Every byte outside the first block, in order, then at most one CR LF, then the block.
    FUZZ_CHECK(once.size() == before.size() + block.size());
    FUZZ_CHECK(StartsWith(once, keptText));
    FUZZ_CHECK(once.substr(keptText.size(), once.size() - keptText.size() - block.size()) ==
               (lineBreak ? "\r\n" : ""));
    FUZZ_CHECK(EndsWith(once, block));  // the block is always last

    // A clear writes no marker and adds nothing.
    FUZZ_CHECK(Apply(content, nullptr, count) == keptText);
    FUZZ_CHECK(Apply(content, sites.slots, 0) == keptText);

    auto countMarkers = [](std::string_view text) {
        std::size_t n = 0;
        for (std::size_t at = Search(text, kBegin, 0); at != std::string_view::npos;
             at = Search(text, kBegin, at + kBegin.size()))
            ++n;
        return n;
    };
    std::size_t markers = countMarkers(before);
    // No marker is ever formed where the kept text was joined.
    FUZZ_CHECK(markers == countMarkers(kept.head) + countMarkers(kept.tail));
    if (markers == 0) {
        // The next pass finds the block just written: nothing changes.
        FUZZ_CHECK(Apply(once, slots, count) == once);
        // A clear after an apply leaves the original bytes and at most the CR LF.
        FUZZ_CHECK(Apply(once, nullptr, 0) == before);
    } else if (markers <= 4) {
        // The kept text still holds a begin marker, of a second block. Each
        // pass removes one such marker, so the passes come to rest with the block last.
        // (Each pass may also keep one more copy of the block: with many markers the
        // check would cost more than it finds.)
        std::string current = once;
        std::size_t passes = 2 + before.size() / (kBegin.size() - 2);
        bool resting = false;
        for (std::size_t pass = 0; pass < passes && !resting; ++pass) {
            std::string next = Apply(current, slots, count);
            FUZZ_CHECK(EndsWith(next, block));
            resting = next == current;
            current = std::move(next);
        }
        FUZZ_CHECK(resting);
    }
    return 0;
}
