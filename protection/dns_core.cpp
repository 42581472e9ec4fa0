// Interfaces from the netsh interface listing, and the choice of those a pass sets.
#include "protection/dns_core.h"

#include <algorithm>
#include <cstring>

#include "common/vb_text.h"

namespace {

// A run of decimal digits as a number; 0 when it is not one or does not fit.
unsigned DecimalValue(std::string_view digits) noexcept {
    if (digits.empty() || digits.size() > 9) return 0;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// The row of one line; false when the line is not a row.
bool RowOf(std::string_view line, InterfaceRow& row) noexcept {
    line = line.substr(0, DnsLineMax);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    line.remove_prefix(start);
    if (line.front() < '0' || line.front() > '9') return false;
    // Only the space separates columns: a tab belongs to its column.
    row.index = DecimalValue(line.substr(0, line.find(' ')));
    for (int column = 0; column < 4; ++column) {
        std::size_t end = line.find(' ');
        if (end == std::string_view::npos) return false;
        line.remove_prefix(end);
        line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    }
    VbCopyBounded(row.name, line.substr(0, DnsNameMax));
    return !line.empty();
}

const ReportedInterface* Find(std::span<const ReportedInterface> reported,
                              unsigned index) noexcept {
    for (const ReportedInterface& one : reported)
        if (one.index == index) return &one;
    return nullptr;
}

}  // namespace

void ParseInterfaceListing(std::string_view listing, InterfaceListing& out) noexcept {
    std::memset(&out, 0, sizeof out);
    // Text ends at a NUL, as in the C string the agent captures.
    listing = listing.substr(0, listing.find('\0'));
    while (!listing.empty()) {
        std::size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
        InterfaceRow row;
        if (!RowOf(line, row)) continue;
        if (out.count == DnsMaxAdapters) {
            out.truncated = true;
            return;
        }
        out.rows[out.count++] = row;
    }
}

InterfaceChoice ChooseInterfaces(const InterfaceListing& listing,
                                 std::span<const ReportedInterface> reported) noexcept {
    InterfaceChoice choice = {};
    choice.complete = !listing.truncated;
    auto chosen = [&choice](unsigned index) {
        return std::find(choice.indexes, choice.indexes + choice.count, index) !=
               choice.indexes + choice.count;
    };
    for (int i = 0; i < listing.count && i < DnsMaxAdapters; ++i) {
        unsigned index = listing.rows[i].index;
        const ReportedInterface* known = Find(reported, index);
        if (index == 0 || chosen(index)) {
            choice.complete = false;
        } else if (known == nullptr || !known->loopback) {
            choice.indexes[choice.count++] = index;
        }
    }
    for (int i = 0; i < listing.count && i < DnsMaxAdapters; ++i) {
        unsigned named = DecimalValue(VbFieldText(listing.rows[i].name));
        if (named != 0 && chosen(named)) choice.complete = false;
    }
    return choice;
}

bool Ipv6FailureExcused(std::span<const ReportedInterface> reported, unsigned index) noexcept {
    const ReportedInterface* known = Find(reported, index);
    return known != nullptr && !known->ipv6;
}
