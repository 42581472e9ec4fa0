// What the parent is told of a pass, as a table. The text core's other tables
// are the fuzz corpus (fuzz/corpus/<target>/, one file per case), replayed by
// ctest through each target's own reference with its round-trip and idempotence
// properties; the machine tests check the same functions end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    std::u16string text(out, DescribeUninstall({1, 0, 0, 1, 0}, false, false, out));
    EXPECT_EQ(text, u"Désinstallation incomplète : échec pour les sites bloqués, les paramètres et "
                    u"le démarrage automatique. Relancez la désinstallation dans un instant.");
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
