// The addresses of the DNS lock's firewall rules, as netsh's remoteip lists, without
// any I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// An IPv4 address (below 2^32) or an IPv6 address, as one 128-bit number.
struct IpValue {
    std::uint64_t high;
    std::uint64_t low;
    friend auto operator<=>(const IpValue&, const IpValue&) = default;
};
inline constexpr IpValue Ipv4Max = {0, 0xFFFFFFFF};
inline constexpr IpValue Ipv6Max = {~std::uint64_t{0}, ~std::uint64_t{0}};

// From first to last, both included.
struct IpRange {
    IpValue first;
    IpValue last;
};

// Dotted IPv4 or IPv6 text (compressed or not, no zone, no embedded IPv4) into value.
bool ParseIpv4(std::string_view text, IpValue& value) noexcept;
bool ParseIpv6(std::string_view text, IpValue& value) noexcept;

// The ranges that cover every value from 0 to max but those of excluded (in any
// order, within max), in ascending order; returns how many, at most out.size().
// In Windows Firewall a block rule beats every allow rule, so "allow the family
// resolver, block the rest" would block everything: one block rule names the rest.
std::size_t ComplementRanges(std::span<const IpRange> excluded, IpValue max,
                             std::span<IpRange> out) noexcept;

// The remoteip list of the rules on ports 53 and 853 (DNS, DNS over TLS): every IPv4
// and IPv6 address but those of the family resolver (its four, given as text) and
// loopback, in ranges, the local network's included. NUL-terminated in out; the
// length, or 0 when an address does not parse or out is too small.
std::size_t DnsLockRemoteAddresses(std::span<const std::string_view> family,
                                   std::span<char> out) noexcept;

// The remoteip list of the rules on port 443: public resolvers that answer DNS over
// HTTPS or HTTP/3 at addresses of their own (the table in dnslock_core.cpp).
extern const std::string_view PublicResolverAddresses;
