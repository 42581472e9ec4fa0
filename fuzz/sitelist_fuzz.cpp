// Fuzz target of the settings window's site list (ui/ui_text.h, ParseSiteList and
// DescribeIgnoredLines).
//
// Input: a mode byte, then the edit box's text. The mode's low bit chooses one
// UTF-16 unit per byte (Latin-1, which reaches ASCII lines quickly) or
// little-endian pairs of bytes; its other bits, the size of a small warning buffer.
// Which lines are valid is decided here again, by a separate walk.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "ui/ui_text.h"

namespace {

FUZZ_REFERENCE bool IsHostChar(char16_t unit) {
    if (unit >= 0x80) return false;
    char c = static_cast<char>(unit);
    return std::strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.", c) !=
               nullptr &&
           c != '\0';
}

struct Expected {
    std::vector<std::string> stored;
    std::vector<std::u16string_view> ignored;  // every refused line, in order
};

// Lines end at CR or at LF; spaces and tabs around a line do not count.
FUZZ_REFERENCE Expected ExpectedOutcome(std::u16string_view text) {
    Expected expected;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t stop = start;
        while (stop < text.size() && text[stop] != u'\r' && text[stop] != u'\n')
            ++stop;
        std::size_t first = start;
        std::size_t last = stop;
        while (first < last && (text[first] == u' ' || text[first] == u'\t'))
            ++first;
        while (last > first && (text[last - 1] == u' ' || text[last - 1] == u'\t'))
            --last;
        std::u16string_view line = text.substr(first, last - first);
        start = stop + 1;
        if (line.empty()) continue;

        bool valid = expected.stored.size() < VbMaxSites;
        for (char16_t unit : line)
            valid = valid && IsHostChar(unit);
        if (!valid) {
            expected.ignored.push_back(line);
            continue;
        }
        std::string name;
        for (std::size_t i = 0; i < line.size() && i < VbSiteSlotSize - 1; ++i)
            name.push_back(static_cast<char>(line[i]));
        expected.stored.push_back(name);
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::uint8_t mode = input.Byte();
    bool pairs = (mode & 1) != 0;
    std::size_t warningCapacity = mode >> 1;
    std::string_view bytes = input.left;
    // Exactly as many units as the text has, so that a read past it is an ASan report.
    std::vector<char16_t> units(pairs ? bytes.size() / 2 : bytes.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (pairs)
            units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                             static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
        else
            units[i] = static_cast<std::uint8_t>(bytes[i]);
    }
    std::u16string_view text(units.data(), units.size());

    VbConfig config;
    std::memset(&config, 0xA5, sizeof config);
    VbConfig before = config;
    SiteListOutcome outcome = ParseSiteList(text, config);

    // Only the site list changes.
    FUZZ_CHECK(std::memcmp(config.salt, before.salt, sizeof config.salt) == 0);
    FUZZ_CHECK(std::memcmp(config.hash, before.hash, sizeof config.hash) == 0);
    FUZZ_CHECK(config.hasPassword == before.hasPassword && config.enabled == before.enabled);

    FUZZ_CHECK(config.siteCount >= 0 && config.siteCount <= VbMaxSites);
    for (int i = 0; i < config.siteCount; ++i) {
        const char* slot = config.sites[i];
        const char* nul = static_cast<const char*>(std::memchr(slot, '\0', VbSiteSlotSize));
        FUZZ_CHECK(nul != nullptr && nul != slot);  // 1 to 255 bytes
        for (const char* p = slot; p < nul; ++p)
            FUZZ_CHECK(IsHostChar(static_cast<unsigned char>(*p)));
    }

    // Every valid line up to the 64th is stored, and every other non-blank line reported.
    Expected expected = ExpectedOutcome(text);
    FUZZ_CHECK(config.siteCount == static_cast<int>(expected.stored.size()));
    for (int i = 0; i < config.siteCount; ++i)
        FUZZ_CHECK(config.sites[i] == expected.stored[i]);
    FUZZ_CHECK(outcome.ignoredCount == static_cast<int>(expected.ignored.size()));
    int shown = static_cast<int>(expected.ignored.size());
    if (shown > SiteListOutcome::Shown) shown = SiteListOutcome::Shown;
    FUZZ_CHECK(outcome.shownCount == shown);
    for (int i = 0; i < shown; ++i) {
        // Views into the text itself, not copies.
        FUZZ_CHECK(outcome.shown[i].data() == expected.ignored[i].data());
        FUZZ_CHECK(outcome.shown[i].size() == expected.ignored[i].size());
    }

    // The warning about those lines: each shown line appears, in order, cut at 60
    // units; a smaller buffer holds the start of the same text, terminated.
    std::vector<char16_t> whole(1024);
    std::size_t wholeLength = DescribeIgnoredLines(outcome, whole);
    FUZZ_CHECK(wholeLength < whole.size() - 1 && whole[wholeLength] == u'\0');
    std::u16string_view warning(whole.data(), wholeLength);
    FUZZ_CHECK((outcome.ignoredCount == 0) == warning.empty());
    std::size_t from = 0;
    for (int i = 0; i < shown; ++i) {
        std::u16string_view line = expected.ignored[i];
        std::u16string entry = u"    " + std::u16string(line.substr(0, 60)) +
                               (line.size() > 60 ? u"\u2026" : u"") + u"\n";
        from = warning.find(entry, from);
        FUZZ_CHECK(from != std::u16string_view::npos);
        from += entry.size();
    }
    std::vector<char16_t> small(warningCapacity);  // exactly: a write past it is an ASan report
    std::size_t smallLength = DescribeIgnoredLines(outcome, small);
    if (warningCapacity == 0) {
        FUZZ_CHECK(smallLength == 0);
    } else {
        FUZZ_CHECK(smallLength == std::min(wholeLength, warningCapacity - 1));
        FUZZ_CHECK(small[smallLength] == u'\0');
        FUZZ_CHECK(warning.substr(0, smallLength) ==
                   std::u16string_view(small.data(), smallLength));
    }
    return 0;
}
