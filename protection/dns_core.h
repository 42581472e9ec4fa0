// The interfaces of the listing of "netsh interface ipv4 show interfaces", and which
// of them a pass sets, without any I/O.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr int DnsMaxAdapters = 32;
inline constexpr std::size_t DnsNameMax = 255;
inline constexpr std::size_t DnsLineMax = 511;

// One row: its index, the first column's number (0 when that column is not a
// number), and its name as the listing prints it, in the OEM code page.
struct InterfaceRow {
    unsigned index;
    char name[DnsNameMax + 1];
};

struct InterfaceListing {
    int count;
    InterfaceRow rows[DnsMaxAdapters];
    // The listing had rows past the last one kept, whose interfaces stay as they are.
    bool truncated;
};

// Each row is "Idx Met MTU State Name": the name is everything from the fifth
// space-separated column to the end of the line, inner spaces included, without
// trailing spaces. Lines that do not start with a digit (headings, the dashed
// line) are not rows. The listing ends at its first NUL byte.
void ParseInterfaceListing(std::string_view listing, InterfaceListing& out) noexcept;

// What the IP Helper API reports of one interface.
struct ReportedInterface {
    unsigned index;  // its IPv4 interface index, the listing's first column
    bool loopback;   // of the software-loopback type
    bool ipv6;       // IPv6 enabled on it
};

// The interfaces a pass sets, by index. netsh takes a name or an index after
// "name=": an index needs no quoting, escaping or code-page conversion, whatever
// name a standard user gave a VPN connection.
struct InterfaceChoice {
    int count;
    unsigned indexes[DnsMaxAdapters];
    // False when an interface of the machine may keep its own servers: rows past the
    // 32nd, a row without an index, two rows of one index, or a row whose name is
    // the number of a chosen index (a VPN named "7"), for which "name=7" is unsure.
    bool complete;
};

// Every row but the one the API reports as the loopback interface at its index:
// never judged by its name. Nothing reported, nothing is loopback.
InterfaceChoice ChooseInterfaces(const InterfaceListing& listing,
                                 std::span<const ReportedInterface> reported) noexcept;

// Whether a failed IPv6 command on the interface of that index is no failure: the
// API reports it with IPv6 turned off, where the command cannot succeed. An
// interface it does not report counts as before.
bool Ipv6FailureExcused(std::span<const ReportedInterface> reported, unsigned index) noexcept;
