// Password cuts and the site list of the settings window, on text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/ui_text.h"

namespace {

std::string Cut(std::u16string_view text, std::size_t capacity = 128) {
    std::vector<char> out(capacity, '#');
    std::size_t n = Utf16ToUtf8Cut(text, out);
    EXPECT_EQ(out[n], '\0');
    return std::string(out.data(), n);
}

struct Parsed {
    VbConfig config = {};
    SiteListOutcome outcome = {};
    std::vector<std::string> sites() const {
        return {config.sites, config.sites + config.siteCount};
    }
    std::vector<std::u16string> shown() const {
        return {outcome.shown, outcome.shown + outcome.shownCount};
    }
};

Parsed Parse(std::u16string_view text) {
    Parsed parsed;
    parsed.config.siteCount = 9;  // the new list replaces whatever was there
    parsed.outcome = ParseSiteList(text, parsed.config);
    return parsed;
}

using Strings = std::vector<std::string>;
using U16s = std::vector<std::u16string>;

}  // namespace

TEST(PasswordCut, ConvertsAndNeverSplitsACharacter) {
    EXPECT_EQ(Cut(u"secret"), "secret");
    EXPECT_EQ(Cut(u"\u00e9t\u00e9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Cut(u"\u20ac"), "\xE2\x82\xAC");
    EXPECT_EQ(Cut(u"\U0001F600"), "\xF0\x9F\x98\x80");
    // Unpaired surrogates become U+FFFD, as the platform converts them.
    EXPECT_EQ(Cut(u"a\xD800"
                  u"b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Cut(u"\xDC00"), "\xEF\xBF\xBD");

    // 127 bytes at most: 63 two-byte letters, not 63.5.
    EXPECT_EQ(Cut(std::u16string(127, u'\u00e9')).size(), 126u);
    EXPECT_EQ(Cut(std::u16string(200, u'a')), std::string(127, 'a'));
    // A four-byte character that would end at byte 128 is left out whole.
    std::u16string text = std::u16string(124, u'a') + u"\U0001F600";
    EXPECT_EQ(Cut(text), std::string(124, 'a'));
    EXPECT_EQ(Cut(u"ab", 2), "a");
    EXPECT_EQ(Cut(u"ab", 1), "");
}

TEST(SiteList, TrimsKeepsCaseAndSkipsBlankLines) {
    Parsed parsed = Parse(u"  example.com\t\r\n\r\n   \n\tUPPER.Example\r\nwww.kids.example");
    EXPECT_EQ(parsed.sites(), (Strings{"example.com", "UPPER.Example", "www.kids.example"}));
    EXPECT_EQ(parsed.outcome.ignoredCount, 0);
    EXPECT_EQ(Parse(u"").sites(), Strings{});
    EXPECT_EQ(Parse(u"\r\n \t \r\n").outcome.ignoredCount, 0);
    // A bare CR ends a line too, and repeated names stay twice.
    EXPECT_EQ(Parse(u"a.b\rc-d.e\ra.b").sites(), (Strings{"a.b", "c-d.e", "a.b"}));
}

TEST(SiteList, RefusedLinesAreReportedNotStored) {
    Parsed parsed = Parse(
        u"bad name.com\nunder_score.com\na/b\nc:d\ncaf\u00e9.fr\nok.example\n"
        u"tab\tinside.com\n");
    EXPECT_EQ(parsed.sites(), Strings{"ok.example"});
    EXPECT_EQ(parsed.outcome.ignoredCount, 6);
    EXPECT_EQ(parsed.shown(),
              (U16s{u"bad name.com", u"under_score.com", u"a/b", u"c:d", u"caf\u00e9.fr"}));
}

TEST(SiteList, AtMostSixtyFourNamesOfAtMost255Bytes) {
    std::u16string text = std::u16string(300, u'x') + u"\n";
    for (int i = 0; i < 70; ++i) {
        text += u'n';
        text += static_cast<char16_t>(u'a' + i % 26);
        text += u".example\n";
    }
    text += u"bad line\n";
    Parsed parsed = Parse(text);
    ASSERT_EQ(parsed.config.siteCount, 64);
    EXPECT_EQ(parsed.sites()[0], std::string(255, 'x'));
    EXPECT_EQ(parsed.sites()[63], "nk.example");  // the 63rd of the 70
    // Past the 64th name every non-blank line is left out, valid or not.
    EXPECT_EQ(parsed.outcome.ignoredCount, 8);
    EXPECT_EQ(parsed.shown().front(), u"nl.example");
}

TEST(SiteList, DescribesWhatWasLeftOut) {
    char16_t out[1024];
    Parsed none = Parse(u"a.example\n");
    EXPECT_EQ(DescribeIgnoredLines(none.outcome, out), 0u);

    Parsed one = Parse(u"a b\n");
    DescribeIgnoredLines(one.outcome, out);
    std::u16string text = out;
    EXPECT_EQ(text.rfind(u"1 ligne n'a pas été enregistrée :\n\n    a b\n", 0), 0u);

    std::u16string many;
    for (int i = 0; i < 12; ++i) {
        many += u"bad_";
        many += static_cast<char16_t>(u'a' + i);
        many += u'\n';
    }
    many += std::u16string(80, u'_') + u"\n";
    Parsed lots = Parse(many);
    DescribeIgnoredLines(lots.outcome, out);
    text = out;
    EXPECT_EQ(text.rfind(u"13 lignes n'ont pas été enregistrées :", 0), 0u);
    EXPECT_NE(text.find(u"    bad_e\n"), std::u16string::npos);
    EXPECT_EQ(text.find(u"bad_f"), std::u16string::npos);  // five shown
    EXPECT_NE(text.find(u"\u2026 et 8 autres\n"), std::u16string::npos);

    std::u16string longText = std::u16string(80, u'_') + u"\n";  // outlives the views into it
    Parsed longLine = Parse(longText);
    DescribeIgnoredLines(longLine.outcome, out);
    EXPECT_NE(std::u16string(out).find(std::u16string(60, u'_') + u"\u2026\n"),
              std::u16string::npos);

    char16_t tiny[8];
    EXPECT_EQ(DescribeIgnoredLines(lots.outcome, tiny), 7u);  // cut, still terminated
    EXPECT_EQ(tiny[7], u'\0');
}
