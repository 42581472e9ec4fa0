// The text core's rules as tables: what the parent is told, how long password guesses
// wait, when the service runs its passes, which IPv6 failures count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "agent/service_core.h"
#include "protection/dns_core.h"
#include "protection/dnslock_core.h"
#include "ui/ui_text.h"

TEST(PassTexts, StatusLineAndTipSayWhatIsInForce) {
    // Read, on, then failed: DNS, hosts, browsers, DNS lock; the firewall applies no rule.
    struct Row {
        VbPassReport report;
        std::u16string status;
        std::u16string tip;
    } rows[] = {
        {{1, 0, 0, 0, 0, 0, 0},
         u"Protection désactivée : DNS et sites personnalisés ont été rétablis.",
         u"Vellumbrook - protection désactivée"},
        {{1, 1, 0, 0, 0, 0, 1},
         u"Protection appliquée, sans verrou DNS : le pare-feu Windows est désactivé.",
         u"Vellumbrook - active, sans verrou DNS (pare-feu désactivé)"},
        {{1, 1, 1, 1, 1, 1, 1},
         u"Protection incomplète : échec pour le filtrage DNS, le verrou DNS, les sites bloqués "
         u"et le verrouillage des navigateurs. Nouvel essai dans une minute.",
         u"Vellumbrook - protection incomplète"},
        {{0, 1, 0, 0, 0, 0, 0},
         u"Protection incomplète : échec pour le filtrage DNS, le verrou DNS, les sites bloqués "
         u"et le verrouillage des navigateurs. Nouvel essai dans une minute.",
         u"Vellumbrook - paramètres illisibles"},
    };
    for (const Row& row : rows) {
        char16_t out[256];
        EXPECT_EQ(std::u16string(out, DescribePass(row.report, out)), row.status);
        EXPECT_EQ(std::u16string(TrayTipFor(row.report)), row.tip);
        VbPassReport back = VbUnpackPassReport(VbPackPassReport(row.report));
        EXPECT_EQ(std::memcmp(&back, &row.report, sizeof back), 0);  // a message carries it
    }
    char16_t out[256];
    EXPECT_EQ(std::u16string(out, DescribeRevertQuestion({1, 0, 1, 0, 0, 1, 0}, out)),
              u"Vellumbrook n'a pas pu rétablir : le filtrage DNS et le verrou DNS. Désinstaller "
              u"quand même ?");
    EXPECT_EQ(std::u16string(out, DescribeUninstall(false, true, false, out)),
              u"Désinstallation incomplète : échec pour les paramètres et le service. Relancez "
              u"la désinstallation dans un instant.");
    EXPECT_EQ(std::u16string(out, DescribePasswordWait(1, out)),
              u"Trop d'essais. Réessayez dans 1 seconde.");
}

TEST(SiteList, SixtyFourNamesAtMostAndAWarningThatNamesFiveLines) {
    // Lines end at CR or at LF, blanks around them go; past the 64th name valid lines are
    // refused too. The warning names five, cut at 60 units, and counts the others.
    std::u16string text;
    for (int i = 1; i <= 65; ++i)
        for (char c : " s" + std::to_string(i) + (i % 2 ? "\t\n" : "\r"))
            text += static_cast<char16_t>(c);
    text += std::u16string(61, u'_') + u"\nb_\r\nc_\nd_\ne_";
    for (auto [tail, count, more] :
         {std::tuple{u"", u"6", u"1 autre"}, std::tuple{u"\nf_", u"7", u"2 autres"}}) {
        std::u16string all = text + tail;
        VbConfig config = {};
        SiteListOutcome outcome = ParseSiteList(all, config);
        ASSERT_EQ(config.siteCount, 64);
        char16_t out[512], small[8];
        std::u16string warning(out, DescribeIgnoredLines(outcome, out));
        std::u16string expected =
            count + std::u16string(u" lignes n'ont pas été enregistrées :\n\n") + u"    s65\n    " +
            std::u16string(60, u'_') + u"\u2026\n    b_\n    c_\n    d_\n    \u2026 et " + more +
            u"\n\n";
        EXPECT_EQ(warning.substr(0, expected.size()), expected);
        // A smaller buffer holds the start of the same text, terminated.
        ASSERT_EQ(DescribeIgnoredLines(outcome, small), 7u);
        EXPECT_EQ(std::u16string(small, 8), warning.substr(0, 7) + u'\0');
    }
}

TEST(PasswordGuard, ThreeWrongThenWaitsThatDoubleUpToAQuarterHour) {
    PasswordGuard guard;
    std::uint64_t now = 1000;
    for (int round = 0; round < 2; ++round) {
        for (int wrong = 0; wrong < 2; ++wrong) {
            NotePasswordChecked(guard, false, now);
            EXPECT_EQ(PasswordWaitSeconds(guard, now), 0u);
        }
        // From the third wrong one in a row, counted from that check, rounded up.
        for (std::uint64_t wait : {30u, 60u, 120u, 240u, 480u, 900u, 900u}) {
            NotePasswordChecked(guard, false, now);
            EXPECT_EQ(PasswordWaitSeconds(guard, now + 1), wait);
            EXPECT_EQ(PasswordWaitSeconds(guard, now + wait * 1000 - 1), 1u);
            now += wait * 1000;
            EXPECT_EQ(PasswordWaitSeconds(guard, now), 0u);
            if (round == 1) break;
        }
        NotePasswordChecked(guard, true, now);  // the right one starts it all again
    }
}

TEST(ServiceSchedule, AtStartEveryMinuteAndSoonAfterAChangeNotItsOwn) {
    // S: a pass starts; E: it ends; N: a notification; A: one of an interface or an
    // address that appeared, never its echo. Then when the next pass is due.
    struct Row {
        std::vector<std::pair<char, std::uint64_t>> events;
        std::uint64_t next;
    } rows[] = {
        {{}, 0},
        {{{'N', 500}, {'S', 1000}, {'E', 3000}}, 61000},   // the pass covers what came before
        {{{'S', 1000}, {'E', 3000}, {'N', 3000}}, 61000},  // its own commands' echoes
        {{{'S', 1000}, {'E', 3000}, {'N', 6000}}, 61000},
        {{{'S', 1000}, {'E', 3000}, {'N', 6001}}, 7001},  // a change: a second later
        {{{'S', 1000}, {'E', 3000}, {'N', 9000}, {'N', 9700}, {'N', 10500}}, 11500},
        {{{'S', 1000},
          {'E', 3000},
          {'N', 9000},
          {'N', 9900},
          {'N', 10800},
          {'N', 11700},
          {'N', 12600},
          {'N', 13500}},
         14000},  // a burst that goes on: 5 s after its first notification at the latest
        {{{'S', 1000}, {'E', 3000}, {'N', 60800}}, 61000},
        {{{'S', 1000}, {'E', 70000}}, 61000},  // a pass longer than the period: the next at once
        {{{'S', 1000}, {'E', 3000}, {'A', 3000}}, 4000},
        {{{'S', 1000}, {'A', 2000}, {'E', 3000}, {'N', 3500}}, 3000},
    };
    for (const Row& row : rows) {
        PassSchedule schedule;
        for (auto [kind, at] : row.events) {
            if (kind == 'S') NotePassStart(schedule, at);
            if (kind == 'E') NotePassEnd(schedule, at);
            if (kind == 'N' || kind == 'A') NoteNotification(schedule, at, kind == 'A');
        }
        EXPECT_EQ(NextPassAt(schedule), row.next) << row.events.size() << " events";
    }
}

TEST(AdapterDns, EveryInterfaceByItsIndexButTheReportedLoopback) {
    auto row = [](const char* index, const char* name) {
        return std::string(index) + "          25        1500  connected     " + name + "\r\n";
    };
    const std::string wifi = row("12", "Wi-Fi 2") + row("1", "Loopback Pseudo-Interface 1");
    const ReportedInterface loopbackAt1[] = {{1, true, true}, {12, false, true}};
    const ReportedInterface namedOnly[] = {{9, false, true}};
    std::string many;
    for (int i = 1; i <= 33; ++i)
        many += row(std::to_string(100 + i).c_str(), "Tap");
    struct Row {
        std::string listing;
        std::span<const ReportedInterface> reported;
        std::vector<unsigned> indexes;
        bool complete;
    } rows[] = {
        {"Idx  Met  MTU  State  Name\r\n---\r\n" + wifi, loopbackAt1, {12}, true},
        {wifi, {}, {12, 1}, true},  // no answer from the API: loopback is set like any other
        {row("9", "Loopback") + row("4", "A\"B") + row("5", "Wi-Fi\\"), namedOnly, {9, 4, 5}, true},
        {row("7", "Ethernet") + row("7", "VPN"), {}, {7}, false},          // one index, two rows
        {row("7", "Ethernet") + row("23", "7"), {}, {7, 23}, false},       // is "name=7" the VPN?
        {row("1", "Loopback") + row("23", "1"), loopbackAt1, {23}, true},  // "name=1" never sent
        {row("12a", "Odd") + row("3", "Eth"), {}, {3}, false},             // a row without an index
        {many, {}, {}, false},
    };
    for (int i = 0; i < 32; ++i)
        rows[7].indexes.push_back(101 + i);  // the first 32 rows; the 33rd stays as it is
    for (const Row& r : rows) {
        InterfaceListing listing;
        ParseInterfaceListing(r.listing, listing);
        InterfaceChoice choice = ChooseInterfaces(listing, r.reported);
        EXPECT_EQ(std::vector<unsigned>(choice.indexes, choice.indexes + choice.count), r.indexes)
            << r.listing.substr(0, 40);
        EXPECT_EQ(choice.complete, r.complete) << r.listing.substr(0, 40);
    }
    // A failed IPv6 command counts unless IPv6 is off there; an interface not reported counts.
    const ReportedInterface reported[] = {{12, false, true}, {23, false, false}};
    EXPECT_FALSE(Ipv6FailureExcused(reported, 12));
    EXPECT_TRUE(Ipv6FailureExcused(reported, 23));
    EXPECT_FALSE(Ipv6FailureExcused(reported, 40));
}

TEST(DnsLock, EveryAddressButTheFamilyResolverAndLoopbackIsInABlockedRange) {
    const std::string_view family[] = {"1.1.1.3", "1.0.0.3", "2606:4700:4700::1113",
                                       "2606:4700:4700::1003"};
    char list[1024];
    EXPECT_EQ(std::string(list, DnsLockRemoteAddresses(family, list)),
              "0.0.0.0-1.0.0.2,1.0.0.4-1.1.1.2,1.1.1.4-126.255.255.255,128.0.0.0-255.255.255.255,"
              "::2-2606:4700:4700::1002,2606:4700:4700::1004-2606:4700:4700::1112,"
              "2606:4700:4700::1114-ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
    char small[100];
    EXPECT_EQ(DnsLockRemoteAddresses(family, small), 0u);  // never a list cut short
    const std::string_view typo[] = {"1.1.1.3", "1.0.0.300"};
    EXPECT_EQ(DnsLockRemoteAddresses(typo, list), 0u);

    // Kept ranges in any order, overlapping, touching the last value: the rest, once.
    const IpRange kept[] = {{{0, 9}, Ipv4Max}, {{0, 2}, {0, 4}}, {{0, 3}, {0, 6}}};
    IpRange ranges[4];
    ASSERT_EQ(ComplementRanges(kept, Ipv4Max, ranges), 2u);
    const IpValue ends[] = {{0, 0}, {0, 1}, {0, 7}, {0, 8}};
    EXPECT_TRUE(ranges[0].first == ends[0] && ranges[0].last == ends[1] &&
                ranges[1].first == ends[2] && ranges[1].last == ends[3]);

    // The public resolvers of port 443: each entry an address netsh takes, none the
    // family resolver's.
    std::string_view table = PublicResolverAddresses;
    while (!table.empty()) {
        std::string_view entry = table.substr(0, table.find(','));
        table.remove_prefix(std::min(entry.size() + 1, table.size()));
        IpValue v;
        EXPECT_TRUE(ParseIpv4(entry, v) || ParseIpv6(entry, v)) << entry;
        for (std::string_view f : family)
            EXPECT_NE(entry, f);
    }
}
