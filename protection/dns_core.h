// Adapter names from the listing of "netsh interface ipv4 show interfaces",
// as bytes in the OEM code page, without any I/O.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr int DnsMaxAdapters = 32;
inline constexpr std::size_t DnsNameMax = 255;
inline constexpr std::size_t DnsLineMax = 511;

struct AdapterNameList {
    int count;
    char names[DnsMaxAdapters][DnsNameMax + 1];
    // The listing had rows past the last one kept, whose adapters stay as they are.
    bool truncated;
    // Two rows gave the same name: both commands reach one adapter, and the other
    // keeps its servers.
    bool duplicated;
};

// Each row is "Idx Met MTU State Name": the name is everything from the fifth
// space-separated column to the end of the line, inner spaces included, without
// trailing spaces. Lines that do not start with a digit (headings, the dashed
// line) are not rows. The listing ends at its first NUL byte.
void ParseInterfaceListing(std::string_view listing, AdapterNameList& out) noexcept;

// What the IP Helper API reports of one interface: its name, and whether IPv6 is
// enabled on it.
struct ReportedInterface {
    std::u16string_view name;
    bool ipv6;
};
// Whether a failed IPv6 command on the adapter of that name is no failure: the
// API reports an interface of that name with IPv6 turned off, where the command
// cannot succeed. An adapter it does not report counts as before.
bool Ipv6FailureExcused(std::span<const ReportedInterface> reported,
                        std::u16string_view name) noexcept;
