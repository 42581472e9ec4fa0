// Fuzz target of the netsh interface listing parser (protection/dns_core.h).
//
// Input: the listing's bytes, as netsh writes them in the OEM code page. The
// expected names are found here by a separate column walk.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "protection/dns_core.h"

namespace {

// The agent reads the listing as a C string, so it ends at the first NUL.
// A row: optional spaces, a digit-led column, then four runs of non-spaces
// separated by spaces; the name is what follows, without trailing CR and spaces.
FUZZ_REFERENCE std::vector<std::string> ExpectedNames(std::string_view listing) {
    std::size_t nul = 0;
    while (nul < listing.size() && listing[nul] != '\0')
        ++nul;
    listing = listing.substr(0, nul);

    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < listing.size() && names.size() < DnsMaxAdapters) {
        std::size_t stop = start;
        while (stop < listing.size() && listing[stop] != '\n')
            ++stop;
        std::string_view line = listing.substr(start, stop - start);
        start = stop + 1;

        if (line.size() > DnsLineMax) line = line.substr(0, DnsLineMax);
        std::size_t end = line.size();
        while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\r'))
            --end;
        std::size_t i = 0;
        while (i < end && line[i] == ' ')
            ++i;
        if (i == end || line[i] < '0' || line[i] > '9') continue;
        bool row = true;
        for (int column = 0; column < 4 && row; ++column) {
            while (i < end && line[i] != ' ')
                ++i;
            row = i < end;
            while (i < end && line[i] == ' ')
                ++i;
        }
        if (!row || i == end) continue;
        std::size_t length = end - i < DnsNameMax ? end - i : DnsNameMax;
        names.emplace_back(line.substr(i, length));
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view listing(reinterpret_cast<const char*>(data), size);
    AdapterNameList list;
    std::memset(&list, 0xA5, sizeof list);  // filled from scratch, whatever was there
    ParseInterfaceListing(listing, list);

    FUZZ_CHECK(list.count >= 0 && list.count <= DnsMaxAdapters);
    for (int i = 0; i < DnsMaxAdapters; ++i) {
        const char* name = list.names[i];
        const void* nul = std::memchr(name, '\0', DnsNameMax + 1);
        FUZZ_CHECK(nul != nullptr);  // at most 255 bytes and a NUL
        if (i < list.count)
            FUZZ_CHECK(name[0] != '\0');  // no empty adapter name
        else
            FUZZ_CHECK(name[0] == '\0');
    }

    std::vector<std::string> expected = ExpectedNames(listing);
    FUZZ_CHECK(list.count == static_cast<int>(expected.size()));
    for (int i = 0; i < list.count; ++i)
        FUZZ_CHECK(list.names[i] == expected[i]);
    return 0;
}
