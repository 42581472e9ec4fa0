// Adapter names from the listing of "netsh interface ipv4 show interfaces",
// as bytes in the OEM code page, without any I/O.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr int DnsMaxAdapters = 32;
inline constexpr std::size_t DnsNameMax = 255;
inline constexpr std::size_t DnsLineMax = 511;

struct AdapterNameList {
    int count;
    char names[DnsMaxAdapters][DnsNameMax + 1];
};

// Each row is "Idx Met MTU State Name": the name is everything from the fifth
// space-separated column to the end of the line, inner spaces included. Lines
// that do not start with a digit (headings, the dashed line) are not rows. The
// listing ends at its first NUL byte.
void ParseInterfaceListing(std::string_view listing, AdapterNameList& out) noexcept;
