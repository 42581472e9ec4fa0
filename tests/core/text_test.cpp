// The text core's rules as tables: what the parent is told, how long password guesses
// wait, when the service runs its passes, which IPv6 failures count.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "agent/service_core.h"
#include "protection/dns_core.h"
#include "ui/ui_text.h"

TEST(PassTexts, StatusLineAndTipSayWhatIsInForce) {
    struct Row {
        VbPassReport report;
        std::u16string status;
        std::u16string tip;
    } rows[] = {
        {{1, 0, 0, 0, 0}, u"Protection désactivée : DNS et sites personnalisés ont été rétablis.",
         u"Vellumbrook - protection désactivée"},
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
    EXPECT_EQ(std::u16string(out, DescribeRevertQuestion({1, 0, 1, 0, 1}, out)),
              u"Vellumbrook n'a pas pu rétablir : le filtrage DNS et le verrouillage des "
              u"navigateurs. Désinstaller quand même ?");
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
        std::u16string expected = count + std::u16string(u" lignes n'ont pas été enregistrées :\n\n") +
                                   u"    s65\n    " + std::u16string(60, u'_') +
                                   u"\u2026\n    b_\n    c_\n    d_\n    \u2026 et " + more + u"\n\n";
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
    // S: a pass starts; E: it ends; N: a notification. Then when the next pass is due.
    struct Row {
        std::vector<std::pair<char, std::uint64_t>> events;
        std::uint64_t next;
    } rows[] = {
        {{}, 0},
        {{{'N', 500}, {'S', 1000}, {'E', 3000}}, 61000},  // the pass covers what came before
        {{{'S', 1000}, {'E', 3000}, {'N', 3000}}, 61000},  // its own commands' echoes
        {{{'S', 1000}, {'E', 3000}, {'N', 6000}}, 61000},
        {{{'S', 1000}, {'E', 3000}, {'N', 6001}}, 7001},  // a change: a second later
        {{{'S', 1000}, {'E', 3000}, {'N', 9000}, {'N', 9700}, {'N', 10500}}, 11500},
        {{{'S', 1000}, {'E', 3000}, {'N', 9000}, {'N', 9900}, {'N', 10800}, {'N', 11700},
          {'N', 12600}, {'N', 13500}},
         14000},  // a burst that goes on: 5 s after its first notification at the latest
        {{{'S', 1000}, {'E', 3000}, {'N', 60800}}, 61000},
        {{{'S', 1000}, {'E', 70000}}, 61000},  // a pass longer than the period: the next at once
    };
    for (const Row& row : rows) {
        PassSchedule schedule;
        for (auto [kind, at] : row.events) {
            if (kind == 'S') NotePassStart(schedule, at);
            if (kind == 'E') NotePassEnd(schedule, at);
            if (kind == 'N') NoteNotification(schedule, at);
        }
        EXPECT_EQ(NextPassAt(schedule), row.next) << row.events.size() << " events";
    }
}

TEST(AdapterDns, AnIpv6FailureCountsUnlessIpv6IsOffThere) {
    const ReportedInterface reported[] = {{u"Wi-Fi", true}, {u"VPN", false}};
    EXPECT_FALSE(Ipv6FailureExcused(reported, u"Wi-Fi"));
    EXPECT_TRUE(Ipv6FailureExcused(reported, u"VPN"));
    EXPECT_FALSE(Ipv6FailureExcused(reported, u"Ethernet"));  // not reported: as before
}
