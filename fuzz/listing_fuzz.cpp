// Fuzz target of the netsh interface listing parser (protection/dns_core.h).
//
// Input: the listing's bytes, as netsh writes them in the OEM code page. The
// expected names are found here by counting the runs of spaces of each row.

#include "fuzz/fuzz_check.h"
#include "protection/dns_core.h"

namespace {

// The listing ends at its first NUL, as the C string the agent captures. A row is
// a line (its first 511 bytes, without trailing CRs and spaces) that starts, after
// spaces, with a digit; its name starts after the fourth run of spaces (never
// tabs), cut at 255 bytes. Rows past the 32nd, and a name given twice, are told.
struct Expected {
    std::vector<std::string_view> names;
    bool truncated = false;
    bool duplicated = false;
};

Expected Expect(std::string_view listing) {
    Expected e;
    listing = listing.substr(0, listing.find('\0'));
    while (!listing.empty()) {
        std::string_view line = listing.substr(0, listing.find('\n'));
        listing.remove_prefix(std::min(line.size() + 1, listing.size()));
        line = line.substr(0, DnsLineMax);
        line = line.substr(0, line.find_last_not_of("\r ") + 1);
        std::size_t k = line.find_first_not_of(' ');
        if (k == line.npos || line[k] < '0' || line[k] > '9') continue;
        int gaps = 0;
        while (gaps < 4 && ++k < line.size())
            gaps += line[k - 1] == ' ' && line[k] != ' ';
        if (gaps != 4) continue;
        if ((e.truncated = e.names.size() == DnsMaxAdapters)) break;
        std::string_view name = line.substr(k, DnsNameMax);
        e.duplicated = e.duplicated || std::count(e.names.begin(), e.names.end(), name) != 0;
        e.names.push_back(name);
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view listing(reinterpret_cast<const char*>(data), size);
    AdapterNameList list;
    std::memset(&list, 0xA5, sizeof list);  // filled from scratch, whatever was there
    ParseInterfaceListing(listing, list);
    Expected e = Expect(listing);
    FUZZ_CHECK(list.count == static_cast<int>(e.names.size()));
    for (int i = 0; i < DnsMaxAdapters; ++i)  // and the slots past them empty
        FUZZ_CHECK(FieldText(list.names[i], DnsNameMax + 1) == (i < list.count ? e.names[i] : ""));
    FUZZ_CHECK(list.truncated == e.truncated && list.duplicated == e.duplicated);
    return 0;
}
