// The text core, as tables of bytes in and bytes out: the hosts block and what the
// parent is told of a pass. Builds natively too, under the sanitizers. config.dat
// lines, the listing and the site list are pinned by their fuzz targets'
// references over the committed corpus, and end to end by the machine tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protection/hosts_core.h"
#include "ui/ui_text.h"

using namespace std::string_literals;

namespace {

const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
const std::string kEnd = "# <<< Vellumbrook <<<\r\n";

struct Sites {
    char slots[VbMaxSites][VbSiteSlotSize] = {};
    int count = 0;
    Sites(std::initializer_list<std::string> names) {
        for (const auto& name : names)
            std::strncpy(slots[count++], name.c_str(), 255);
    }
};

std::string Rewrite(std::string_view content, const Sites& sites) {
    std::vector<char> buffer(HostsCapacity(content.size(), sites.slots, sites.count));
    std::copy(content.begin(), content.end(), buffer.begin());
    return std::string(buffer.data(), RewriteHosts(buffer, content.size(), sites.slots, sites.count));
}

std::string Block(std::initializer_list<std::string> names) {
    std::string block = kBegin;
    for (const auto& name : names)
        block += "127.0.0.1 " + name + "\r\n127.0.0.1 www." + name + "\r\n::1 " + name +
                 "\r\n::1 www." + name + "\r\n";
    return block + kEnd;
}

}  // namespace

TEST(HostsBlock, RewriteKeepsEveryByteOutsideTheFirstBlock) {
    const std::string user = "# hosts\r\n127.0.0.1 localhost\r\n";
    const std::string lfBlock = "# >>> Vellumbrook >>>\n127.0.0.1 a\n# <<< Vellumbrook <<<\n";
    const std::string utf16 = "\xFF\xFE#\0 \0h\0o\0s\0t\0s\0\r\0\n\0"s;
    const std::string markerText = "user\r\n# >>> Vellumbrook >>>";
    struct Row {
        std::string content;
        Sites sites;
        std::string expected;
    } rows[] = {
        {"", {"example.com", "kids.example"}, Block({"example.com", "kids.example"})},
        {"", {}, ""},
        {user + Block({"old.example"}) + "10.0.0.2 printer\r\n", {"new.example"},
         user + "10.0.0.2 printer\r\n" + Block({"new.example"})},
        {user + Block({"a.example"}), {}, user},
        {user + kBegin + "127.0.0.1 torn\r\nuser line\r\n", {"a.example"}, user + Block({"a.example"})},
        {user + kEnd + "x\r\n" + kBegin + "gone\r\n", {}, user + kEnd + "x\r\n"},
        {lfBlock, {"b.example"}, lfBlock + Block({"b.example"})},  // LF markers are not ours
        {"10.0.0.1 nas", {"a.example"}, "10.0.0.1 nas\r\n" + Block({"a.example"})},
        {"10.0.0.1 nas", {}, "10.0.0.1 nas"},
        {"unix line\n", {"a.example"}, "unix line\n" + Block({"a.example"})},
        {"h\r\n" + Block({"a.example"}) + "10.0.0.9 added", {"a.example"},
         "h\r\n10.0.0.9 added\r\n" + Block({"a.example"})},
        {"127.0.0.1 nas" + Block({"a.example"}), {}, "127.0.0.1 nas"},  // a marker inside a line
        // A last line holding the marker's text gets no CR LF: it would become a marker.
        {markerText, {"a.example"}, markerText + Block({"a.example"})},
        // Text around a removed block never joins into a begin marker.
        {"u\r\n# >>> Vell" + Block({"x"}) + "umbrook >>>\r\nmore\r\n", {"a"},
         "u\r\n# >>> Vell\r\numbrook >>>\r\nmore\r\n" + Block({"a"})},
        {markerText + Block({"x"}) + "\r\nmore\r\n", {"a"},
         markerText + "\r\r\nmore\r\n" + Block({"a"})},
        {utf16, {"a.example"}, utf16 + "\r\n" + Block({"a.example"})},  // its last byte is a NUL
        {Block({"x.example"}) + "\0\0tail\r\n"s, {}, "\0\0tail\r\n"s},
        {"", {std::string(255, 'a')}, Block({std::string(255, 'a')})},
        {"", {"www.Example.COM"}, Block({"www.Example.COM"})},
        // Names with a line break or a '#' are left out; nothing left, no block.
        {"h\r\n", {"x# <<< Vellumbrook <<<", "a.example", "b\r\n1.2.3.4 bank", "c\nd"},
         "h\r\n" + Block({"a.example"})},
        {"h", {"#"}, "h"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.content.substr(0, 60));
        std::string once = Rewrite(row.content, row.sites);
        EXPECT_EQ(once, row.expected);
        EXPECT_EQ(Rewrite(once, row.sites), once);  // the next pass changes nothing
    }
    Sites negative{"a.example"};
    negative.count = -3;
    EXPECT_EQ(Rewrite(user, negative), user);
    // Only the first of two blocks goes; the file keeps two, the newest last.
    std::string twice = Rewrite("h\r\n" + Block({"one"}) + Block({"two"}), {"three"});
    EXPECT_EQ(twice, "h\r\n" + Block({"two"}) + Block({"three"}));
    EXPECT_EQ(Rewrite(twice, {"three"}), "h\r\n" + Block({"three"}) + Block({"three"}));
}

TEST(HostsBlock, SixtyFourLongEntriesGiveTheLargestBlock) {
    Sites sites{};
    for (int i = 0; i < 64; ++i)
        std::memset(sites.slots[i], 'a' + i % 26, 255);
    for (int count : {64, 500}) {  // never more than the 64 slots
        sites.count = count;
        EXPECT_EQ(Rewrite("", sites).size(), 68142u);
    }
}

TEST(PassTexts, StatusLineAndTipSayWhatIsInForce) {
    struct Row {
        VbPassReport report;
        std::u16string status;
        std::u16string tip;
    } rows[] = {
        {{1, 1, 0, 0, 0}, u"Protection appliquée : filtrage DNS + sites personnalisés actifs.",
         u"Vellumbrook - protection active"},
        {{1, 0, 0, 0, 0}, u"Protection désactivée : DNS et sites personnalisés ont été rétablis.",
         u"Vellumbrook - protection désactivée"},
        {{1, 1, 0, 1, 0},
         u"Protection incomplète : échec pour les sites bloqués. Nouvel essai dans une minute.",
         u"Vellumbrook - protection incomplète"},
        {{1, 1, 1, 0, 1},
         u"Protection incomplète : échec pour le filtrage DNS et le verrouillage des navigateurs. "
         u"Nouvel essai dans une minute.",
         u"Vellumbrook - protection incomplète"},
        {{1, 0, 1, 1, 1},
         u"Désactivation incomplète : échec pour le filtrage DNS, les sites bloqués et le "
         u"verrouillage des navigateurs. Nouvel essai dans une minute.",
         u"Vellumbrook - désactivation incomplète"},
        {{0, 1, 0, 0, 0},
         u"Protection incomplète : échec pour le filtrage DNS, les sites bloqués et le "
         u"verrouillage des navigateurs. Nouvel essai dans une minute.",
         u"Vellumbrook - paramètres illisibles"},
    };
    for (const Row& row : rows) {
        char16_t out[256];
        EXPECT_EQ(std::u16string(out, DescribePass(row.report, out)), row.status);
        EXPECT_EQ(std::u16string(TrayTipFor(row.report)), row.tip);
    }
    char16_t out[256];
    std::u16string text(out, DescribeUninstall({1, 0, 0, 1, 0}, false, out));
    EXPECT_EQ(text, u"Désinstallation incomplète : échec pour les sites bloqués et les paramètres. "
                    u"Relancez la désinstallation dans un instant.");
}

TEST(PasswordCut, NeverSplitsACharacterPastTheLimit) {
    auto cut = [](std::u16string_view text, std::size_t capacity) {
        std::vector<char> out(capacity, '#');
        std::size_t n = Utf16ToUtf8Cut(text, out);
        EXPECT_EQ(out[n], '\0');
        return std::string(out.data(), n);
    };
    EXPECT_EQ(cut(u"a\xD800" u"b\U0001F600", 128), "a\xEF\xBF\xBD"
                                                "b\xF0\x9F\x98\x80");
    EXPECT_EQ(cut(std::u16string(127, u'\u00e9'), 128).size(), 126u);
    EXPECT_EQ(cut(std::u16string(124, u'a') + u"\U0001F600", 128), std::string(124, 'a'));
    EXPECT_EQ(cut(u"ab", 1), "");
}
