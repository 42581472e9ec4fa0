// Fuzz target of the bounded UTF-16 to UTF-8 conversion (ui/ui_text.h, Utf16ToUtf8Cut).
//
// Input: a capacity byte, then the UTF-16 text as little-endian pairs of bytes.
// The full conversion is made here by a separate decoder and encoder; the
// result must be its longest prefix of whole characters that fits.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "ui/ui_text.h"

namespace {

// The UTF-8 of each character of the text, one string per character.
FUZZ_REFERENCE std::vector<std::string> ExpectedCharacters(const std::vector<char16_t>& units) {
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t unit = units[i];
        std::uint32_t point = unit;
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            bool pair = unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                        units[i + 1] <= 0xDFFF;
            if (pair) {
                point = 0x10000 + (((unit & 0x3FF) << 10) | (units[i + 1] & 0x3FFu));
                ++i;
            } else {
                point = 0xFFFD;  // a lone half, as Windows converts it
            }
        }
        int length = point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
        static constexpr unsigned char kLead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
        std::string bytes(static_cast<std::size_t>(length), '\0');
        for (int k = length - 1; k > 0; --k) {
            bytes[static_cast<std::size_t>(k)] = static_cast<char>(0x80 | (point & 0x3F));
            point >>= 6;
        }
        bytes[0] = static_cast<char>(kLead[length] | point);
        characters.push_back(bytes);
    }
    return characters;
}

// Well-formed UTF-8 after the Unicode standard's table: no overlong forms, no
// surrogates, nothing above U+10FFFF, no cut sequence.
FUZZ_REFERENCE bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
        unsigned char b = byte(i);
        std::size_t length;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b <= 0x7F) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        if (byte(i + 1) < low || byte(i + 1) > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return false;
        i += length;
    }
    return true;
}

void Check(const std::vector<char16_t>& units, std::size_t capacity) {
    std::u16string_view text(units.data(), units.size());
    // Exactly capacity bytes, so that a write past it is an ASan report.
    std::vector<char> out(capacity, '\x55');
    std::size_t length = Utf16ToUtf8Cut(text, out);
    if (capacity == 0) {
        FUZZ_CHECK(length == 0);
        return;
    }
    FUZZ_CHECK(length <= capacity - 1);
    FUZZ_CHECK(out[length] == '\0');
    std::string_view result(out.data(), length);
    FUZZ_CHECK(IsValidUtf8(result));

    // The longest run of whole characters that fits, from the start.
    std::string full;
    std::string expected;
    bool cut = false;
    for (const std::string& character : ExpectedCharacters(units)) {
        if (!cut && expected.size() + character.size() <= capacity - 1)
            expected += character;
        else
            cut = true;
        full += character;
    }
    FUZZ_CHECK(full.compare(0, length, result) == 0);  // a prefix of the full conversion
    FUZZ_CHECK(result == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::size_t capacity = input.Byte();
    std::string_view bytes = input.Rest();
    std::vector<char16_t> units(bytes.size() / 2);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                         static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    Check(units, PasswordBytesMax + 1);  // the password dialogs' buffer
    Check(units, capacity);
    return 0;
}
