// The text core's rules as tables: what the parent is told, how long password guesses
// wait, when the service runs its passes, which IPv6 failures count. Its other tables
// are the fuzz corpus, replayed by ctest through each target's own reference.
#include <gtest/gtest.h>

#include <string>
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
        {{1, 1, 0, 0, 0}, u"Protection appliquée : filtrage DNS + sites personnalisés actifs.",
         u"Vellumbrook - protection active"},
        {{1, 0, 0, 0, 0}, u"Protection désactivée : DNS et sites personnalisés ont été rétablis.",
         u"Vellumbrook - protection désactivée"},
        {{1, 1, 0, 1, 0},
         u"Protection incomplète : échec pour les sites bloqués. Nouvel essai dans une minute.",
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
    EXPECT_EQ(std::u16string(out, DescribeRevertQuestion({1, 0, 1, 0, 1}, out)),
              u"Vellumbrook n'a pas pu rétablir : le filtrage DNS et le verrouillage des "
              u"navigateurs. Désinstaller quand même ?");
    EXPECT_EQ(std::u16string(out, DescribeUninstall(false, true, false, out)),
              u"Désinstallation incomplète : échec pour les paramètres et le service. Relancez "
              u"la désinstallation dans un instant.");
    EXPECT_EQ(std::u16string(out, DescribePasswordWait(1, out)),
              u"Trop d'essais. Réessayez dans 1 seconde.");
    EXPECT_EQ(std::u16string(out, DescribePasswordWait(30, out)),
              u"Trop d'essais. Réessayez dans 30 secondes.");
}

TEST(SiteList, TheWarningCountsTheLinesItDoesNotShow) {
    VbConfig config = {};
    char16_t out[512];
    for (auto [text, more] : {std::pair{u"a_\nb_\nc_\nd_\ne_\nf_", u"    \u2026 et 1 autre\n"},
                              std::pair{u"a_\nb_\nc_\nd_\ne_\nf_\ng_", u"    \u2026 et 2 autres\n"}}) {
        std::u16string warning(out, DescribeIgnoredLines(ParseSiteList(text, config), out));
        EXPECT_NE(warning.find(u"    e_\n" + std::u16string(more)), std::u16string::npos);
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
