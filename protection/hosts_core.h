// The hosts-file transformation as bytes to bytes, without any I/O.
//
// The agent owns one block framed by two marker lines; it is always the last
// thing the agent writes into the file. Every byte outside the first block is
// kept as it is.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "config/config.h"

inline constexpr std::string_view HostsBeginMarker = "# >>> Vellumbrook >>>\r\n";
inline constexpr std::string_view HostsEndMarker = "# <<< Vellumbrook <<<\r\n";
// A larger hosts file is not read, and so never rewritten.
inline constexpr std::size_t HostsMaxFileSize = 4u * 1024 * 1024;

// What survives of the current content: the bytes before the first begin marker
// and, when an end marker follows it, the bytes after that end marker.
struct HostsRetained {
    std::string_view head;
    std::string_view tail;
};

HostsRetained RemoveFirstBlock(std::string_view content) noexcept;

// Size of the new content for the retained text and the first count slots.
std::size_t NewHostsSize(const HostsRetained& retained, const char (*sites)[VbSiteSlotSize],
                         int count) noexcept;

// Writes the new content: the retained text, a CR LF when it does not end its
// last line and a block follows, then the block. out must hold NewHostsSize bytes;
// returns the number of bytes written.
std::size_t WriteNewHosts(const HostsRetained& retained, const char (*sites)[VbSiteSlotSize],
                          int count, std::span<char> out) noexcept;
