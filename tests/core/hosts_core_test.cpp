// The hosts-file transformation, on bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protection/hosts_core.h"

using namespace std::string_literals;

namespace {

struct Sites {
    char slots[VbMaxSites][VbSiteSlotSize] = {};
    int count = 0;
    Sites(std::initializer_list<std::string> names) {
        for (const auto& name : names)
            std::strncpy(slots[count++], name.c_str(), 255);
    }
};

std::string Apply(std::string_view content, const Sites& sites) {
    std::vector<char> out(HostsCapacity(content.size(), sites.slots, sites.count));
    std::copy(content.begin(), content.end(), out.begin());
    std::size_t n = RewriteHosts(out, content.size(), sites.slots, sites.count);
    return std::string(out.data(), n);
}

std::string Clear(std::string_view content) {
    return Apply(content, {});
}

const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
const std::string kEnd = "# <<< Vellumbrook <<<\r\n";

std::string Lines(const std::string& name) {
    return "127.0.0.1 " + name + "\r\n127.0.0.1 www." + name + "\r\n::1 " + name + "\r\n::1 www." +
           name + "\r\n";
}

}  // namespace

TEST(HostsBlock, EmptyFileGetsExactlyTheBlock) {
    EXPECT_EQ(Apply("", {"example.com", "kids.example"}),
              "# >>> Vellumbrook >>>\r\n"
              "127.0.0.1 example.com\r\n127.0.0.1 www.example.com\r\n"
              "::1 example.com\r\n::1 www.example.com\r\n"
              "127.0.0.1 kids.example\r\n127.0.0.1 www.kids.example\r\n"
              "::1 kids.example\r\n::1 www.kids.example\r\n"
              "# <<< Vellumbrook <<<\r\n");
    EXPECT_EQ(Clear(""), "");
}

TEST(HostsBlock, NoEntriesRemovesTheBlockAndWritesNoMarkers) {
    std::string user = "127.0.0.1 localhost\r\n";
    EXPECT_EQ(Clear(user + kBegin + Lines("a.example") + kEnd), user);
    EXPECT_EQ(Apply(user + kBegin + Lines("a.example") + kEnd, {}), user);
    Sites negative{"a.example"};
    negative.count = -3;
    EXPECT_EQ(Apply(user, negative), user);
}

TEST(HostsBlock, ReplacesTheBlockAndKeepsUserLinesAfterItBeforeTheNewOne) {
    std::string head = "# hosts\r\n127.0.0.1 localhost\r\n";
    std::string after = "10.0.0.2 printer\r\n";
    EXPECT_EQ(Apply(head + kBegin + Lines("old.example") + kEnd + after, {"new.example"}),
              head + after + kBegin + Lines("new.example") + kEnd);
}

TEST(HostsBlock, BeginMarkerWithoutEndDropsEverythingFromIt) {
    std::string head = "127.0.0.1 localhost\r\n";
    EXPECT_EQ(Apply(head + kBegin + "127.0.0.1 torn\r\nuser line\r\n", {"a.example"}),
              head + kBegin + Lines("a.example") + kEnd);
}

TEST(HostsBlock, EndMarkerBeforeTheBeginMarkerIsOrdinaryText) {
    std::string head = "127.0.0.1 localhost\r\n" + kEnd + "x\r\n";
    EXPECT_EQ(Clear(head + kBegin + "127.0.0.1 gone\r\n"), head);
    EXPECT_EQ(Clear(head), head);
}

TEST(HostsBlock, OnlyTheFirstOfTwoBlocksIsReplaced) {
    std::string first = kBegin + Lines("one.example") + kEnd;
    std::string second = kBegin + Lines("two.example") + kEnd;
    std::string once = Apply("h\r\n" + first + second, {"three.example"});
    EXPECT_EQ(once, "h\r\n" + second + kBegin + Lines("three.example") + kEnd);
    // The next call removes the block written last time from its new position.
    EXPECT_EQ(Apply(once, {"three.example"}), "h\r\n" + kBegin + Lines("three.example") + kEnd +
                                                  kBegin + Lines("three.example") + kEnd);
}

TEST(HostsBlock, MarkersWithLfOnlyAreNotRecognised) {
    std::string edited = "# >>> Vellumbrook >>>\n127.0.0.1 a.example\n# <<< Vellumbrook <<<\n";
    EXPECT_EQ(Apply(edited, {"b.example"}), edited + kBegin + Lines("b.example") + kEnd);
    EXPECT_EQ(Clear(edited), edited);
}

TEST(HostsBlock, UnfinishedLastLineGetsALineBreakBeforeTheBlock) {
    std::string user = "127.0.0.1 localhost\r\n10.0.0.1 nas";
    std::string once = Apply(user, {"a.example"});
    EXPECT_EQ(once, user + "\r\n" + kBegin + Lines("a.example") + kEnd);
    EXPECT_EQ(Apply(once, {"a.example"}), once);  // byte-stable
    EXPECT_EQ(Clear(once), user + "\r\n");        // the line break stays
    // A clear adds nothing, and an LF-only line end is finished already.
    EXPECT_EQ(Clear(user), user);
    EXPECT_EQ(Apply("unix line\n", {"a.example"}),
              "unix line\n" + kBegin + Lines("a.example") + kEnd);
    // Lines the user added after the block without a final line break.
    std::string added = "h\r\n" + kBegin + Lines("a.example") + kEnd + "10.0.0.9 added";
    std::string moved = Apply(added, {"a.example"});
    EXPECT_EQ(moved, "h\r\n10.0.0.9 added\r\n" + kBegin + Lines("a.example") + kEnd);
    EXPECT_EQ(Apply(moved, {"a.example"}), moved);
}

TEST(HostsBlock, EntriesAreWrittenWholeAndUnchanged) {
    std::string longName(255, 'a');
    std::string block = Apply("", {longName});
    EXPECT_EQ(block.size(), 46u + 44u + 4u * 255u);
    EXPECT_EQ(block, kBegin + Lines(longName) + kEnd);
    EXPECT_EQ(Lines(longName).size(), 1064u);

    EXPECT_EQ(Apply("", {"www.Example.COM"}), kBegin + Lines("www.Example.COM") + kEnd);
    EXPECT_NE(Apply("", {"www.x.org"}).find("127.0.0.1 www.www.x.org\r\n"), std::string::npos);
}

TEST(HostsBlock, SixtyFourLongEntriesGiveTheLargestBlock) {
    Sites sites{};
    for (int i = 0; i < 64; ++i)
        std::memset(sites.slots[i], 'a' + i % 26, 255);
    sites.count = 64;
    EXPECT_EQ(Apply("", sites).size(), 68142u);
    sites.count = 500;  // never more than the 64 slots
    EXPECT_EQ(Apply("", sites).size(), 68142u);
}

TEST(HostsBlock, NulBytesDoNotHideTheBlock) {
    // UTF-16 text before the block: the markers are searched in every byte.
    std::string utf16 = "\xFF\xFE#\0 \0h\0o\0s\0t\0s\0\r\0\n\0"s;
    std::string once = Apply(utf16, {"a.example"});
    EXPECT_EQ(once.substr(0, utf16.size()), utf16);
    EXPECT_EQ(Apply(once, {"a.example"}), once);
    EXPECT_EQ(Clear(once), utf16 + "\r\n");  // its last byte is a NUL, not a line feed
    std::string nulAfter = kBegin + Lines("x.example") + kEnd + "\0\0tail\r\n"s;
    EXPECT_EQ(Clear(nulAfter), "\0\0tail\r\n"s);
}

TEST(HostsBlock, MarkerInsideALineIsStillAMarker) {
    std::string glued = "127.0.0.1 nas" + kBegin + Lines("a.example") + kEnd;
    EXPECT_EQ(Clear(glued), "127.0.0.1 nas");
}

TEST(HostsBlock, LastLineHoldingTheMarkerTextIsNotCompletedIntoAMarker) {
    // A CR LF after it would make it a begin marker, and the next pass would drop
    // the user's line with the block it took it for.
    std::string user = "user\r\n# >>> Vellumbrook >>>";
    std::string once = Apply(user, {"a.example"});
    EXPECT_EQ(once, user + kBegin + Lines("a.example") + kEnd);
    EXPECT_EQ(Apply(once, {"a.example"}), once);
    EXPECT_EQ(Clear(once), user);
}

TEST(HostsBlock, NamesThatWouldBreakTheBlockAreLeftOut) {
    // Only a hand-edited config.dat holds them: a line break would add lines of
    // its own, a '#' can carry marker text.
    std::string once =
        Apply("h\r\n", {"x# <<< Vellumbrook <<<", "a.example", "b\r\n1.2.3.4 bank", "c\nd"});
    EXPECT_EQ(once, "h\r\n" + kBegin + Lines("a.example") + kEnd);
    EXPECT_EQ(Apply(once, {"x# <<< Vellumbrook <<<", "a.example"}), once);
    // Nothing writable: no block at all, and no line break for it.
    EXPECT_EQ(Apply("h", {"#"}), "h");
}
