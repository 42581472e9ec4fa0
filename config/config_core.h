// config.dat text to VbConfig and back, without any I/O.
//
// The file is read in pieces exactly as fgets with a 1024-byte buffer cuts it:
// each piece ends after its first LF or after 1023 bytes. A piece is one line.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "config/config.h"

inline constexpr std::size_t ConfigPieceMax = 1023;
// The longest text FormatConfigText can produce.
inline constexpr std::size_t ConfigTextMax = 63 + 1 + 127 + 1 + 1 + 1 + VbMaxSites * (255 + 1);

// The record a missing file gives: protection on, everything else empty.
void SetFirstStartDefaults(VbConfig& config) noexcept;

// Takes line number `index` (from 0) of the file, as one piece of at most 1023 bytes.
void AcceptConfigLine(VbConfig& config, int index, std::string_view piece) noexcept;

// True when no later line can change the record: every site slot is taken.
bool ConfigIsFull(const VbConfig& config, int nextIndex) noexcept;

// Cuts a byte stream into fgets pieces. Fill(span) returns the number of bytes
// it put into the span, 0 at the end, or a negative value on a read error.
class FgetsSplitter {
public:
    template <class Fill>
    bool Next(Fill&& fill, std::string_view& piece) noexcept;
    bool Failed() const noexcept { return failed_; }

private:
    char line_[ConfigPieceMax + 1] = {};
    char buffer_[ConfigTextMax] = {};  // a whole config.dat comes in one read
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

template <class Fill>
bool FgetsSplitter::Next(Fill&& fill, std::string_view& piece) noexcept {
    std::size_t used = 0;
    while (used < ConfigPieceMax) {
        if (pos_ == len_) {
            if (ended_) break;
            long got = fill(std::span<char>(buffer_, sizeof buffer_));
            if (got < 0) {
                failed_ = ended_ = true;
                return false;  // like fgets: a read error yields no piece
            }
            if (got == 0) {
                ended_ = true;
                break;
            }
            pos_ = 0;
            len_ = static_cast<std::size_t>(got);
        }
        char c = buffer_[pos_++];
        line_[used++] = c;
        if (c == '\n') break;
    }
    piece = std::string_view(line_, used);
    return used != 0;
}

// Zeroes the record and fills it from the pieces of a byte stream. False when
// the stream reported a read error.
template <class Fill>
bool ReadConfig(Fill&& fill, VbConfig& config) noexcept {
    std::memset(&config, 0, sizeof config);
    FgetsSplitter splitter;
    std::string_view piece;
    for (int index = 0; !ConfigIsFull(config, index) && splitter.Next(fill, piece); ++index)
        AcceptConfigLine(config, index, piece);
    return !splitter.Failed();
}

// Parses a whole text held in memory through the same loop as the file reader.
void ParseConfigText(std::string_view text, VbConfig& config) noexcept;

// Writes the record as config.dat text into out and returns its length, or 0
// when out is smaller than ConfigTextMax.
std::size_t FormatConfigText(const VbConfig& config, std::span<char> out) noexcept;
