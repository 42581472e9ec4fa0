// Fuzz target of config.dat text to record and back (config/config_core.h).
//
// Input: a mode byte, then
//   mode 0: a read-size byte and the file's text;
//   mode 1: the fields of a record whose texts hold no CR, LF or NUL;
//   mode 2: the raw bytes of a record, as found in memory.
// The expected records and texts are built here, without the code under test.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_core.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::size_t kPiece = 1023;  // what fgets with a 1024-byte buffer returns at most

FUZZ_REFERENCE void CopyCut(char* field, std::size_t size, std::string_view text) {
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(field, text.data(), n);
}

// The record config.dat's text gives: fgets pieces, the first three lines fixed,
// then non-empty lines as sites until the 64 slots are taken.
FUZZ_REFERENCE VbConfig ExpectedRecord(std::string_view text) {
    VbConfig record;
    std::memset(&record, 0, sizeof record);
    std::size_t pos = 0;
    for (int index = 0; pos < text.size(); ++index) {
        if (index > 2 && record.siteCount == VbMaxSites) break;
        std::size_t length = 0;
        while (length < kPiece && pos + length < text.size())
            if (text[pos + length++] == '\n') break;
        std::string_view piece = text.substr(pos, length);
        pos += length;

        std::size_t end = 0;
        while (end < piece.size() && piece[end] != '\0')
            ++end;
        while (end > 0 && (piece[end - 1] == '\n' || piece[end - 1] == '\r'))
            --end;
        std::string_view line = piece.substr(0, end);

        if (index == 0) {
            CopyCut(record.salt, sizeof record.salt, line);
        } else if (index == 1) {
            CopyCut(record.hash, sizeof record.hash, line);
            record.hasPassword = line.empty() ? 0 : 1;
        } else if (index == 2) {
            record.enabled = line.size() == 1 && line[0] == '1' ? 1 : 0;
        } else if (!line.empty()) {
            CopyCut(record.sites[record.siteCount++], VbSiteSlotSize, line);
        }
    }
    return record;
}

// A field's text as the file holds it: up to its NUL, one byte short of its size.
FUZZ_REFERENCE std::string FieldLine(const char* field, std::size_t size) {
    std::size_t n = 0;
    while (n + 1 < size && field[n] != '\0')
        ++n;
    return std::string(field, n) + "\n";
}

FUZZ_REFERENCE std::string ExpectedText(const VbConfig& record) {
    std::string text = FieldLine(record.salt, sizeof record.salt) +
                       FieldLine(record.hash, sizeof record.hash) +
                       (record.enabled != 0 ? "1\n" : "0\n");
    int count = record.siteCount < 0 ? 0 : std::min(record.siteCount, VbMaxSites);
    for (int i = 0; i < count; ++i)
        text += FieldLine(record.sites[i], VbSiteSlotSize);
    return text;
}

// What every parsed record must look like, whatever the text was.
FUZZ_REFERENCE void CheckWellFormed(const VbConfig& record) {
    auto terminated = [](const char* field, std::size_t size) {
        const char* nul = static_cast<const char*>(std::memchr(field, '\0', size));
        if (nul == nullptr) return false;
        // Zeroed first: nothing of an earlier content after the text.
        for (const char* p = nul; p < field + size; ++p)
            if (*p != '\0') return false;
        return true;
    };
    FUZZ_CHECK(terminated(record.salt, sizeof record.salt));
    FUZZ_CHECK(terminated(record.hash, sizeof record.hash));
    FUZZ_CHECK(record.hasPassword == (record.hash[0] != '\0' ? 1 : 0));
    FUZZ_CHECK(record.enabled == 0 || record.enabled == 1);
    FUZZ_CHECK(record.siteCount >= 0 && record.siteCount <= VbMaxSites);
    for (int i = 0; i < VbMaxSites; ++i) {
        FUZZ_CHECK(terminated(record.sites[i], VbSiteSlotSize));
        if (i < record.siteCount)
            FUZZ_CHECK(record.sites[i][0] != '\0');
        else
            FUZZ_CHECK(record.sites[i][0] == '\0');  // with the rest, zero past siteCount
    }
}

FUZZ_REFERENCE bool SameRecord(const VbConfig& a, const VbConfig& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

FUZZ_REFERENCE bool EndsWithCr(const VbConfig& record) {
    auto endsWithCr = [](const char* field) {
        std::size_t n = std::strlen(field);
        return n != 0 && field[n - 1] == '\r';
    };
    bool any = endsWithCr(record.salt) || endsWithCr(record.hash);
    for (int i = 0; i < record.siteCount; ++i)
        any = any || endsWithCr(record.sites[i]);
    return any;
}

VbConfig Parse(std::string_view text) {
    VbConfig record;
    std::memset(&record, 0xA5, sizeof record);  // a parse must not depend on earlier content
    ParseConfigText(text, record);
    return record;
}

std::string Format(const VbConfig& record) {
    // Exactly the documented maximum, so that a longer text is an ASan report.
    std::vector<char> out(ConfigTextMax);
    std::size_t length = FormatConfigText(record, out);
    FUZZ_CHECK(length != 0 && length <= ConfigTextMax);
    std::vector<char> small(ConfigTextMax - 1);
    FUZZ_CHECK(FormatConfigText(record, small) == 0);
    return std::string(out.data(), length);
}

void CheckText(FuzzInput& input) {
    std::size_t readSize = input.Byte() + 1;
    std::string_view text = input.left;

    VbConfig parsed = Parse(text);
    CheckWellFormed(parsed);
    FUZZ_CHECK(SameRecord(parsed, ExpectedRecord(text)));

    // The file reader in small reads, as ReadFile may return them, reads the same.
    std::string_view left = text;
    auto fill = [&left, readSize](std::span<char> buffer) -> long {
        std::size_t n = std::min({buffer.size(), left.size(), readSize});
        std::memcpy(buffer.data(), left.data(), n);
        left.remove_prefix(n);
        return static_cast<long>(n);
    };
    VbConfig read;
    std::memset(&read, 0x5A, sizeof read);
    FUZZ_CHECK(ReadConfig(fill, read));
    FUZZ_CHECK(SameRecord(read, parsed));

    // A read error is reported whenever the reader gets to see it.
    left = text;
    int reads = 0;
    bool failed = false;
    auto failing = [&](std::span<char> buffer) -> long {
        if (++reads > 2) {
            failed = true;
            return -1;
        }
        return fill(buffer);
    };
    FUZZ_CHECK(ReadConfig(failing, read) == !failed);

    // A saved record reads back the same, unless cutting a long line to its field
    // left a CR at the field's end: saved, that CR reads back as part of the line end.
    if (!EndsWithCr(parsed)) FUZZ_CHECK(SameRecord(Parse(Format(parsed)), parsed));
}

// Texts without CR, LF or NUL: the bytes that would end a line are shifted by one.
void FillText(FuzzInput& input, char* field, std::size_t maxLength) {
    std::size_t length = input.Byte() % (maxLength + 1);
    std::string_view bytes = input.Bytes(length);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        field[i] = c == '\0' || c == '\n' || c == '\r' ? static_cast<char>(c + 1) : c;
    }
}

void CheckRoundTrip(FuzzInput& input) {
    VbConfig record;
    std::memset(&record, 0, sizeof record);
    FillText(input, record.salt, sizeof record.salt - 1);
    FillText(input, record.hash, sizeof record.hash - 1);
    record.hasPassword = record.hash[0] != '\0' ? 1 : 0;
    record.enabled = input.Byte() & 1;
    record.siteCount = input.Byte() % (VbMaxSites + 1);
    for (int i = 0; i < record.siteCount; ++i) {
        FillText(input, record.sites[i], VbSiteSlotSize - 1);
        if (record.sites[i][0] == '\0') record.sites[i][0] = 'a';  // used slots are non-empty
    }
    std::string text = Format(record);
    FUZZ_CHECK(text == ExpectedText(record));
    FUZZ_CHECK(SameRecord(Parse(text), record));
}

void CheckAnyRecord(FuzzInput& input) {
    VbConfig record;
    std::memset(&record, 0, sizeof record);
    std::string_view bytes = input.Bytes(sizeof record);
    std::memcpy(&record, bytes.data(), bytes.size());
    std::string text = Format(record);
    FUZZ_CHECK(text == ExpectedText(record));
    VbConfig back = Parse(text);
    CheckWellFormed(back);
    FUZZ_CHECK(SameRecord(back, ExpectedRecord(text)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    switch (input.Byte() % 3) {
        case 0:
            CheckText(input);
            break;
        case 1:
            CheckRoundTrip(input);
            break;
        default:
            CheckAnyRecord(input);
            break;
    }
    return 0;
}
