// Fuzz target of config.dat text to record and back (config/config_core.h). Input: a
// mode byte, then (2) a raw record, or (else) a read-size byte and the file's text,
// whose record is also formatted and read back. Expected results are built here.
#include <span>

#include "config/config_core.h"
#include "fuzz/fuzz_check.h"

namespace {

template <std::size_t N>
std::size_t Put(char (&field)[N], std::string_view text) {
    std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    return n;
}

// The record of config.dat's text: lines cut as fgets with 1024 bytes cuts them, up to
// a NUL and without line end; three fixed lines, then non-empty ones as the 64 sites.
VbConfig ExpectedRecord(std::string_view text) {
    VbConfig r;
    std::memset(&r, 0, sizeof r);
    for (int index = 0; !text.empty() && (index < 3 || r.siteCount < VbMaxSites); ++index) {
        std::string_view line = text.substr(0, std::min(text.find('\n'), std::size_t{1022}) + 1);
        text.remove_prefix(line.size());
        line = line.substr(0, line.find('\0'));
        line = line.substr(0, line.find_last_not_of("\r\n") + 1);
        if (index == 0) Put(r.salt, line);
        if (index == 1) r.hasPassword = Put(r.hash, line) != 0;
        if (index == 2) r.enabled = line == "1";
        if (index > 2 && !line.empty()) Put(r.sites[r.siteCount++], line);
    }
    return r;
}

// A field as the file holds it: up to its NUL, at most one byte short of its size.
std::string Line(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size - 1)) + "\n";
}

std::string ExpectedText(const VbConfig& r) {
    std::string text =
        Line(r.salt, sizeof r.salt) + Line(r.hash, sizeof r.hash) + (r.enabled ? "1\n" : "0\n");
    for (int i = 0; i < std::clamp(r.siteCount, 0, VbMaxSites); ++i)
        text += Line(r.sites[i], VbSiteSlotSize);
    return text;
}

bool Same(const VbConfig& a, const VbConfig& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

VbConfig Parse(std::string_view text) {
    VbConfig record;
    std::memset(&record, 0xA5, sizeof record);  // a parse must not depend on earlier content
    ParseConfigText(text, record);
    return record;
}

// Into exactly the documented maximum (a longer text is an ASan report). A field a cut
// left ending in CR reads back without it (found-cut-leaves-cr).
void CheckFormat(const VbConfig& record) {
    std::vector<char> out(ConfigTextMax), small(ConfigTextMax - 1);
    FUZZ_CHECK(FormatConfigText(record, small) == 0);
    std::string text(out.data(), FormatConfigText(record, out));
    FUZZ_CHECK(text == ExpectedText(record));
    FUZZ_CHECK(Same(Parse(text), ExpectedRecord(text)));
}

void CheckText(FuzzInput& input) {
    std::size_t readSize = input.Byte() + 1;
    std::string_view text = input.left;
    VbConfig parsed = Parse(text);
    FUZZ_CHECK(Same(parsed, ExpectedRecord(text)));
    CheckFormat(parsed);

    // The same in small reads, as ReadFile may return them; a read error is reported
    // whenever it is seen (here, the third read).
    std::string_view left = text;
    int reads = 0, failAt = 0;
    auto fill = [&](std::span<char> buffer) -> long {
        if (failAt != 0 && ++reads >= failAt) return -1;
        std::size_t n = std::min({buffer.size(), left.size(), readSize});
        std::memcpy(buffer.data(), left.data(), n);
        left.remove_prefix(n);
        return static_cast<long>(n);
    };
    VbConfig read;
    std::memset(&read, 0x5A, sizeof read);
    FUZZ_CHECK(ReadConfig(fill, read) && Same(read, parsed));
    left = text, failAt = 3;
    bool ok = ReadConfig(fill, read);
    FUZZ_CHECK(ok == (reads < failAt));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    if (input.Byte() != 2) {
        CheckText(input);
        return 0;
    }
    VbConfig record;
    std::memset(&record, 0, sizeof record);
    std::string_view bytes = input.Bytes(sizeof record);
    std::memcpy(&record, bytes.data(), bytes.size());
    CheckFormat(record);
    return 0;
}
