// Adapter names from netsh's interface listing, on bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protection/dns_core.h"

namespace {

std::vector<std::string> Names(std::string_view listing) {
    AdapterNameList list;
    ParseInterfaceListing(listing, list);
    return {list.names, list.names + list.count};
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(InterfaceListing, WindowsLayout) {
    const char listing[] =
        "\r\n"
        "Idx     Met         MTU          State                Name\r\n"
        "---  ----------  ----------  ------------  ---------------------------\r\n"
        "  1          75  4294967295  connected     Loopback Pseudo-Interface 1\r\n"
        " 12          25        1500  connected     Wi-Fi 2\r\n"
        "  7          35        1500  disconnected  Ethernet\r\n"
        "\r\n";
    EXPECT_EQ(Names(listing), (Strings{"Loopback Pseudo-Interface 1", "Wi-Fi 2", "Ethernet"}));
}

TEST(InterfaceListing, NameKeepsInnerSpacesAndLosesTrailingOnes) {
    EXPECT_EQ(Names("  12   25  1500  connected  Wi-Fi 2\r\n"), (Strings{"Wi-Fi 2"}));
    EXPECT_EQ(Names("12 25 1500 connected   Local  Area   \r\r \n"), (Strings{"Local  Area"}));
    EXPECT_EQ(Names("12 25 1500 connected Last line without end"),
              (Strings{"Last line without end"}));
    // Tabs belong to columns; only spaces separate them.
    EXPECT_EQ(Names("12\t25 1500 connected Eth 1 x\n"), (Strings{"1 x"}));
    EXPECT_EQ(Names("12 25 1500 connected\tEth\n"), (Strings{}));
}

TEST(InterfaceListing, LinesThatAreNotRowsAreIgnored) {
    EXPECT_EQ(Names("12 25 1500 connected\r\n"), Strings{});     // four columns only
    EXPECT_EQ(Names("12 25 1500 connected   \r\n"), Strings{});  // and trailing spaces
    EXPECT_EQ(Names("Idx Met MTU State Name\n---- -- -- -- --\n\n   \n"), Strings{});
    EXPECT_EQ(Names("x12 25 1500 connected Eth\n"), Strings{});
    EXPECT_EQ(Names(""), Strings{});
    // French headings start with a letter too.
    EXPECT_EQ(Names("Idx     M\x82t         MTU          \x90tat                Nom\r\n"
                    " 3          25        1500  connect\x82     R\x82seau\r\n"),
              (Strings{"R\x82seau"}));
}

TEST(InterfaceListing, AtMostThirtyTwoNamesOfAtMost255Bytes) {
    std::string listing;
    for (int i = 1; i <= 40; ++i)
        listing += std::to_string(i) + " 25 1500 connected Adapter " + std::to_string(i) + "\r\n";
    Strings names = Names(listing);
    ASSERT_EQ(names.size(), 32u);
    EXPECT_EQ(names.front(), "Adapter 1");
    EXPECT_EQ(names.back(), "Adapter 32");

    std::string longName(300, 'n');
    EXPECT_EQ(Names("5 25 1500 connected " + longName + "\n"), (Strings{std::string(255, 'n')}));
}

TEST(InterfaceListing, LongLinesAreCutAt511BytesAndTheNextLineStillCounts) {
    // Columns take 20 bytes, so the name is what is left of the first 511 bytes.
    std::string row = "5 25 1500 connected " + std::string(600, 'a') + "\n";
    EXPECT_EQ(Names(row + "6 25 1500 connected Next\n"), (Strings{std::string(255, 'a'), "Next"}));
    // A name that starts beyond byte 511 is not there.
    std::string farName = "5 25 1500 connected" + std::string(600, ' ') + "far\n";
    EXPECT_EQ(Names(farName), Strings{});
}
