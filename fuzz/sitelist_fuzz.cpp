// Fuzz target of the settings window's site list (ui/ui_text.h, ParseSiteList and
// DescribeIgnoredLines).
//
// Input: a mode byte, then the edit box's text. The mode's low bit chooses one
// UTF-16 unit per byte (Latin-1, which reaches ASCII lines quickly) or
// little-endian pairs of bytes; its other bits, the size of a small warning buffer.
// Which lines are valid is decided here again, by a separate walk.

#include "fuzz/fuzz_check.h"
#include "ui/ui_text.h"

namespace {

struct Expected {
    std::vector<std::string> stored;
    std::vector<std::u16string_view> ignored;  // every refused line, in order
};

// Lines end at CR or at LF; spaces and tabs around a line do not count. A line of
// host-name characters is stored, cut at 255, while fewer than 64 are.
Expected Expect(std::u16string_view text) {
    Expected e;
    for (std::size_t start = 0, stop = 0; start <= text.size(); start = stop + 1) {
        for (stop = start; stop < text.size() && text[stop] != u'\r' && text[stop] != u'\n';)
            ++stop;
        std::size_t first = start, last = stop;
        while (first < last && (text[first] == u' ' || text[first] == u'\t'))
            ++first;
        while (last > first && (text[last - 1] == u' ' || text[last - 1] == u'\t'))
            --last;
        std::u16string_view line = text.substr(first, last - first);
        if (line.empty()) continue;
        bool valid = e.stored.size() < VbMaxSites;
        std::string name;
        for (char16_t unit : line) {
            valid =
                valid && unit < 0x80 && kHostChars.find(static_cast<char>(unit)) != kHostChars.npos;
            if (name.size() < VbSiteSlotSize - 1) name += static_cast<char>(unit);
        }
        if (valid)
            e.stored.push_back(name);
        else
            e.ignored.push_back(line);
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t mode = size != 0 ? data[0] : 0;
    bool pairs = (mode & 1) != 0;
    const std::uint8_t* bytes = data + (size != 0);
    std::size_t length = size - (size != 0);
    // Exactly as many units as the text has, so that a read past it is an ASan report.
    std::vector<char16_t> units(pairs ? length / 2 : length);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = pairs ? static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8) : bytes[i];
    std::u16string_view text(units.data(), units.size());

    VbConfig config;
    std::memset(&config, 0xA5, sizeof config);
    VbConfig before = config;
    SiteListOutcome outcome = ParseSiteList(text, config);
    // Only the site list changes.
    FUZZ_CHECK(std::memcmp(&config, &before, offsetof(VbConfig, siteCount)) == 0);

    // Every valid line up to the 64th is stored, and every other non-blank line
    // counted; the first five are shown, as views into the text itself.
    Expected e = Expect(text);
    FUZZ_CHECK(config.siteCount == static_cast<int>(e.stored.size()));
    for (int i = 0; i < config.siteCount; ++i)
        FUZZ_CHECK(FieldText(config.sites[i], VbSiteSlotSize) == e.stored[i]);
    int shown = std::min<int>(static_cast<int>(e.ignored.size()), SiteListOutcome::Shown);
    FUZZ_CHECK(outcome.ignoredCount == static_cast<int>(e.ignored.size()));
    FUZZ_CHECK(outcome.shownCount == shown);
    for (int i = 0; i < shown; ++i)
        FUZZ_CHECK(outcome.shown[i].data() == e.ignored[i].data() &&
                   outcome.shown[i].size() == e.ignored[i].size());

    // The warning names each shown line, in order, cut at 60 units; a smaller
    // buffer holds the start of the same text, terminated.
    std::vector<char16_t> whole(1024);
    std::size_t wholeLength = DescribeIgnoredLines(outcome, whole);
    FUZZ_CHECK(wholeLength < whole.size() - 1 && whole[wholeLength] == u'\0');
    std::u16string_view warning(whole.data(), wholeLength);
    FUZZ_CHECK(warning.empty() == e.ignored.empty());
    std::size_t from = 0;
    for (int i = 0; i < shown; ++i) {
        std::u16string_view line = e.ignored[i];
        std::u16string entry = u"    " + std::u16string(line.substr(0, 60)) +
                               (line.size() > 60 ? u"\u2026" : u"") + u"\n";
        from = warning.find(entry, from);
        FUZZ_CHECK(from != warning.npos);
        from += entry.size();
    }
    std::vector<char16_t> small(mode >> 1);  // exactly: a write past it is an ASan report
    std::size_t cut = DescribeIgnoredLines(outcome, small);
    FUZZ_CHECK(cut == (small.empty() ? 0 : std::min(wholeLength, small.size() - 1)));
    FUZZ_CHECK(small.empty() || small[cut] == u'\0');
    FUZZ_CHECK(warning.substr(0, cut) == std::u16string_view(small.data(), cut));
    return 0;
}
