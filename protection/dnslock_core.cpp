// Address ranges and lists of the DNS lock.
#include "protection/dnslock_core.h"

#include <algorithm>
#include <cstring>

namespace {

IpValue Next(IpValue v) noexcept {
    return v.low == ~std::uint64_t{0} ? IpValue{v.high + 1, 0} : IpValue{v.high, v.low + 1};
}
IpValue Previous(IpValue v) noexcept {
    return v.low == 0 ? IpValue{v.high - 1, ~std::uint64_t{0}} : IpValue{v.high, v.low - 1};
}

// Appends to a NUL-terminated text; false once it no longer fits.
class Out {
public:
    explicit Out(std::span<char> out) noexcept : out_(out) {}
    bool Put(std::string_view text) noexcept {
        if (!ok_ || text.size() + 1 > out_.size() - used_) return ok_ = false;
        std::memcpy(out_.data() + used_, text.data(), text.size());
        used_ += text.size();
        out_[used_] = '\0';
        return true;
    }
    bool PutNumber(unsigned value, unsigned base) noexcept {
        char digits[8];
        std::size_t n = 0;
        do
            digits[sizeof digits - ++n] = "0123456789abcdef"[value % base];
        while ((value /= base) != 0);
        return Put({digits + sizeof digits - n, n});
    }
    std::size_t Length() const noexcept { return ok_ ? used_ : 0; }

private:
    std::span<char> out_;
    std::size_t used_ = 0;
    bool ok_ = true;
};

bool PutIpv4(Out& out, IpValue v) noexcept {
    for (int shift = 24; shift >= 0; shift -= 8)
        if (!out.PutNumber((v.low >> shift) & 0xFF, 10) || (shift > 0 && !out.Put(".")))
            return false;
    return true;
}

// RFC 5952: lowercase, no leading zeros, the longest run of two or more zero groups as "::".
bool PutIpv6(Out& out, IpValue v) noexcept {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] =
            static_cast<unsigned>(((i < 4 ? v.high : v.low) >> (48 - 16 * (i % 4))) & 0xFFFF);
    int best = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength) best = i, bestLength = j - i;
        i = j == i ? i + 1 : j;
    }
    for (int i = 0; i < 8; ++i) {
        if (i == best) {
            if (!out.Put("::")) return false;
            i += bestLength - 1;
            continue;
        }
        if ((i > 0 && i != best + bestLength && !out.Put(":")) || !out.PutNumber(groups[i], 16))
            return false;
    }
    return true;
}

bool PutRanges(Out& out, std::span<const IpRange> ranges, bool ipv6) noexcept {
    for (const IpRange& range : ranges) {
        auto put = ipv6 ? PutIpv6 : PutIpv4;
        if ((out.Length() > 0 && !out.Put(",")) || !put(out, range.first) ||
            (range.last != range.first && (!out.Put("-") || !put(out, range.last))))
            return false;
    }
    return true;
}

}  // namespace

bool ParseIpv4(std::string_view text, IpValue& value) noexcept {
    std::uint64_t result = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t digits = 0;
        unsigned byte = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            byte = byte * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || byte > 255) return false;
        text.remove_prefix(digits);
        if (part < 3 && (text.empty() || text.front() != '.')) return false;
        if (part < 3) text.remove_prefix(1);
        result = (result << 8) | byte;
    }
    value = {0, result};
    return text.empty();
}

bool ParseIpv6(std::string_view text, IpValue& value) noexcept {
    unsigned groups[8] = {};
    int count = 0;
    int gap = -1;  // where "::" stands, in groups
    if (text.starts_with("::")) {
        gap = 0;
        text.remove_prefix(2);
    }
    while (!text.empty()) {
        std::size_t digits = 0;
        unsigned group = 0;
        for (; digits < text.size() && digits < 5; ++digits) {
            char c = text[digits];
            int nibble = c >= '0' && c <= '9'   ? c - '0'
                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
            if (nibble < 0) break;
            group = group * 16 + static_cast<unsigned>(nibble);
        }
        if (digits == 0 || digits > 4 || count == 8) return false;
        groups[count++] = group;
        text.remove_prefix(digits);
        if (text.starts_with("::") && gap < 0) {
            gap = count;
            text.remove_prefix(2);
        } else if (text.starts_with(":") && text.size() > 1) {
            text.remove_prefix(1);
        } else if (!text.empty()) {
            return false;
        }
    }
    if (gap < 0 ? count != 8 : count > 7) return false;
    unsigned full[8] = {};
    int tail = gap < 0 ? 0 : count - gap;
    for (int i = 0; i < count; ++i)
        full[i < count - tail ? i : 8 - tail + (i - (count - tail))] = groups[i];
    value = {};
    for (int i = 0; i < 8; ++i)
        (i < 4 ? value.high : value.low) = ((i < 4 ? value.high : value.low) << 16) | full[i];
    return true;
}

std::size_t ComplementRanges(std::span<const IpRange> excluded, IpValue max,
                             std::span<IpRange> out) noexcept {
    IpRange sorted[8];
    std::size_t n = 0;
    for (const IpRange& range : excluded) {  // by first value, inserted in place
        if (n == std::size(sorted)) return 0;
        std::size_t at = n++;
        for (; at > 0 && sorted[at - 1].first > range.first; --at)
            sorted[at] = sorted[at - 1];
        sorted[at] = range;
    }
    std::size_t count = 0;
    IpValue from = {0, 0};
    bool done = false;  // from has passed max
    auto put = [&](IpValue first, IpValue last) {
        if (count == out.size()) return false;
        out[count++] = {first, last};
        return true;
    };
    for (std::size_t i = 0; i < n && !done; ++i) {
        if (sorted[i].first > from && !put(from, Previous(sorted[i].first))) return 0;
        if (sorted[i].last >= from) {
            done = sorted[i].last >= max;
            from = Next(sorted[i].last);
        }
    }
    return done || put(from, max) ? count : 0;
}

std::size_t DnsLockRemoteAddresses(std::span<const std::string_view> family,
                                   std::span<char> out) noexcept {
    // Loopback stays open: a local resolver or proxy of the machine's own. So does
    // the unspecified address "::", which names no host.
    IpRange v4[6] = {{{0, 0x7F000000}, {0, 0x7FFFFFFF}}};
    IpRange v6[6] = {{{0, 0}, {0, 1}}};
    std::size_t n4 = 1, n6 = 1;
    for (std::string_view address : family) {
        IpValue value;
        if (n4 < std::size(v4) && ParseIpv4(address, value)) {
            v4[n4++] = {value, value};
        } else if (n6 < std::size(v6) && ParseIpv6(address, value)) {
            v6[n6++] = {value, value};
        } else {
            return 0;
        }
    }
    IpRange ranges4[8];
    IpRange ranges6[8];
    std::size_t count4 = ComplementRanges({v4, n4}, Ipv4Max, ranges4);
    std::size_t count6 = ComplementRanges({v6, n6}, Ipv6Max, ranges6);
    Out text(out);
    if (count4 == 0 || count6 == 0 || !PutRanges(text, {ranges4, count4}, false) ||
        !PutRanges(text, {ranges6, count6}, true))
        return 0;
    return text.Length();
}

// Only addresses their providers document as their resolvers' own: never a front that
// ordinary web sites share, never the family resolver. Both DNS over HTTPS (TCP) and
// HTTP/3 (UDP) go to port 443.
const std::string_view PublicResolverAddresses =
    // Google Public DNS, and its DNS64 service.
    "8.8.8.8,8.8.4.4,2001:4860:4860::8888,2001:4860:4860::8844,"
    "2001:4860:4860::6464,2001:4860:4860::64,"
    // Cloudflare: 1.1.1.1 unfiltered, 1.1.1.2 filtering malware only.
    "1.1.1.1,1.0.0.1,2606:4700:4700::1111,2606:4700:4700::1001,"
    "1.1.1.2,1.0.0.2,2606:4700:4700::1112,2606:4700:4700::1002,"
    // Quad9: secure, with client subnet, and unsecured.
    "9.9.9.9,149.112.112.112,2620:fe::fe,2620:fe::9,"
    "9.9.9.11,149.112.112.11,2620:fe::11,2620:fe::fe:11,"
    "9.9.9.10,149.112.112.10,2620:fe::10,2620:fe::fe:10,"
    // AdGuard DNS: default (ads) and non-filtering.
    "94.140.14.14,94.140.15.15,2a10:50c0::ad1:ff,2a10:50c0::ad2:ff,"
    "94.140.14.140,94.140.14.141,2a10:50c0::1:ff,2a10:50c0::2:ff,"
    // Mullvad DNS: unfiltered and ad-blocking.
    "194.242.2.2,2a07:e340::2,194.242.2.3,2a07:e340::3,"
    // DNS.SB.
    "185.222.222.222,45.11.45.11,2a09::,2a11::,"
    // Control D's free unfiltered resolver.
    "76.76.2.0,76.76.10.0,2606:1a40::,2606:1a40:1::";
