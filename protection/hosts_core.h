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

// The room RewriteHosts needs for a file of size bytes and the first count slots.
std::size_t HostsCapacity(std::size_t size, const char (*sites)[VbSiteSlotSize],
                          int count) noexcept;

// Rewrites, in place, the content held in the first size bytes of buffer
// (buffer.size() >= HostsCapacity): the first block is removed, a CR LF goes
// where the text around it would otherwise join into a begin marker and after an
// unfinished last line, and the block for the first count slots (none when
// count <= 0 or sites is null) is put at the end. Returns the new length.
std::size_t RewriteHosts(std::span<char> buffer, std::size_t size,
                         const char (*sites)[VbSiteSlotSize], int count) noexcept;
