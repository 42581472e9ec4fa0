// Fuzz target of the netsh interface listing (protection/dns_core.h), whose names a
// standard user chooses (a VPN connection's). Input: the listing's bytes. The rows
// are worked out here from the text.
#include "fuzz/fuzz_check.h"
#include "protection/dns_core.h"

namespace {

// Each line (up to a LF, the text up to its first NUL, 511 bytes of it at most),
// without trailing CR and spaces, that starts with a digit after its spaces and has a
// fifth space-separated column: the first column's number, the rest from the fifth.
std::vector<std::pair<unsigned, std::string>> ExpectedRows(std::string_view text) {
    std::vector<std::pair<unsigned, std::string>> rows;
    text = text.substr(0, text.find('\0'));
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line(text.substr(start, std::min<std::size_t>(end - start, 511)));
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        std::size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos || line[at] < '0' || line[at] > '9') continue;
        std::vector<std::size_t> columns;  // where each column starts
        for (std::size_t i = at; i < line.size(); ++i)
            if (line[i] != ' ' && (i == at || line[i - 1] == ' ')) columns.push_back(i);
        if (columns.size() < 5) continue;
        std::string first = line.substr(at, line.find(' ', at) - at);
        bool number =
            first.size() <= 9 && first.find_first_not_of("0123456789") == std::string::npos;
        rows.push_back(
            {number ? static_cast<unsigned>(std::stoul(first)) : 0u, line.substr(columns[4], 255)});
    }
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    InterfaceListing listing;
    ParseInterfaceListing(text, listing);
    auto expected = ExpectedRows(text);

    FUZZ_CHECK(listing.count == static_cast<int>(std::min<std::size_t>(expected.size(), 32)));
    FUZZ_CHECK(listing.truncated == (expected.size() > 32));
    for (int i = 0; i < listing.count; ++i) {
        std::string_view name(listing.rows[i].name);
        FUZZ_CHECK(listing.rows[i].index == expected[i].first);
        FUZZ_CHECK(name == expected[i].second);
        FUZZ_CHECK(name.find('\n') == std::string_view::npos);  // never a piece of another row
    }
    return 0;
}
