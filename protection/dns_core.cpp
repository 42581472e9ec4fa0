// Adapter names from the netsh interface listing.
#include "protection/dns_core.h"

#include <algorithm>
#include <cstring>

#include "common/vb_text.h"

namespace {

// The name of one row, or an empty view when the line is not a row.
std::string_view NameOfRow(std::string_view line) noexcept {
    line = line.substr(0, DnsLineMax);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) return {};
    line.remove_prefix(start);
    if (line.front() < '0' || line.front() > '9') return {};
    // Only the space separates columns: a tab belongs to its column.
    for (int column = 0; column < 4; ++column) {
        std::size_t end = line.find(' ');
        if (end == std::string_view::npos) return {};
        line.remove_prefix(end);
        line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    }
    return line.substr(0, DnsNameMax);
}

}  // namespace

void ParseInterfaceListing(std::string_view listing, AdapterNameList& out) noexcept {
    std::memset(&out, 0, sizeof out);
    // Text ends at a NUL, as in the C string the agent captures: past it, a name
    // would be stored cut short, or empty.
    listing = listing.substr(0, listing.find('\0'));
    while (!listing.empty()) {
        std::size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
        std::string_view name = NameOfRow(line);
        if (name.empty()) continue;
        if (out.count == DnsMaxAdapters) {
            out.truncated = true;
            return;
        }
        for (int i = 0; i < out.count; ++i)
            out.duplicated = out.duplicated || name == out.names[i];
        VbCopyBounded(out.names[out.count++], name);
    }
}

bool Ipv6FailureExcused(std::span<const ReportedInterface> reported,
                        std::u16string_view name) noexcept {
    for (const ReportedInterface& one : reported)
        if (one.name == name) return !one.ipv6;
    return false;
}
