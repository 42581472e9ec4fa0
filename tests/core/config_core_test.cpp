// config.dat text to record and back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/config_core.h"

using namespace std::string_literals;

namespace {

VbConfig Parse(std::string_view text) {
    VbConfig config;
    ParseConfigText(text, config);
    return config;
}

std::string Format(const VbConfig& config) {
    static char out[ConfigTextMax];
    return std::string(out, FormatConfigText(config, out));
}

const std::string kSalt = "00112233445566778899aabbccddeeff";
const std::string kHash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

}  // namespace

TEST(ConfigText, EmptyTextReadsAsAllOffNotAsAFirstStart) {
    VbConfig config = Parse("");
    EXPECT_EQ(config.enabled, 0);
    EXPECT_EQ(config.hasPassword, 0);
    EXPECT_EQ(config.siteCount, 0);
    EXPECT_STREQ(config.salt, "");

    VbConfig twoLines = Parse(kSalt + "\n" + kHash + "\n");
    EXPECT_EQ(twoLines.enabled, 0);
    EXPECT_EQ(twoLines.hasPassword, 1);
    EXPECT_EQ(std::string(twoLines.hash), kHash);
}

TEST(ConfigText, OnlyTheDigitOneAloneSwitchesProtectionOn) {
    for (const char* line : {" 1", "1 ", "01", "yes", "true", "11", "\t1", ""})
        EXPECT_EQ(Parse(std::string("s\nh\n") + line + "\n").enabled, 0) << '"' << line << '"';
    EXPECT_EQ(Parse("s\nh\n1\n").enabled, 1);
    EXPECT_EQ(Parse("s\nh\n1\r\n").enabled, 1);
    EXPECT_EQ(Parse("s\nh\n1").enabled, 1);  // last line without its LF
    EXPECT_EQ(Parse("s\nh\n1\r\r\n\n").enabled, 1);
}

TEST(ConfigText, CrLfFileReadsLikeLfFile) {
    VbConfig lf = Parse(kSalt + "\n" + kHash + "\n1\nexample.com\nkids.example\n");
    VbConfig crlf = Parse(kSalt + "\r\n" + kHash + "\r\n1\r\nexample.com\r\nkids.example\r\n");
    EXPECT_EQ(0, std::memcmp(&lf, &crlf, sizeof lf));
    EXPECT_EQ(lf.siteCount, 2);
    EXPECT_STREQ(lf.sites[1], "kids.example");
}

TEST(ConfigText, ByteOrderMarkIsNotRecognised) {
    VbConfig config = Parse("\xEF\xBB\xBF" + kSalt + "\n" + kHash + "\n1\n");
    EXPECT_EQ(std::string(config.salt), "\xEF\xBB\xBF" + kSalt);
    EXPECT_EQ(config.enabled, 1);
}

TEST(ConfigText, SiteLinesBlankSkippedSpacesKeptAndCappedAtSixtyFour) {
    VbConfig config = Parse("s\nh\n1\n\na.example\n\r\n   \n\tb.example \n");
    ASSERT_EQ(config.siteCount, 3);
    EXPECT_STREQ(config.sites[0], "a.example");
    EXPECT_STREQ(config.sites[1], "   ");
    EXPECT_STREQ(config.sites[2], "\tb.example ");

    std::string seventy = "s\nh\n1\n";
    for (int i = 0; i < 70; ++i)
        seventy += "site" + std::to_string(i) + ".example\n";
    VbConfig full = Parse(seventy);
    ASSERT_EQ(full.siteCount, 64);
    EXPECT_STREQ(full.sites[63], "site63.example");
    std::string saved = Format(full);
    EXPECT_NE(saved.find("site63.example\n"), std::string::npos);
    EXPECT_EQ(saved.find("site64"), std::string::npos);
}

TEST(ConfigText, LongFieldsAreCutToTheirSlots) {
    std::string longSite(300, 'a');
    std::string longSalt(80, 'b');
    VbConfig config = Parse(longSalt + "\n" + std::string(200, 'c') + "\n1\n" + longSite + "\n");
    EXPECT_EQ(std::string(config.salt), std::string(63, 'b'));
    EXPECT_EQ(std::string(config.hash), std::string(127, 'c'));
    EXPECT_EQ(std::string(config.sites[0]), std::string(255, 'a'));
    // A later save writes the shortened salt.
    EXPECT_EQ(Format(config).substr(0, 64), std::string(63, 'b') + "\n");
}

TEST(ConfigText, LinesLongerThanTheReadBufferSpillIntoLaterLines) {
    // 1023 bytes before the LF: the line, then an empty line made of the LF alone.
    VbConfig exact = Parse(std::string(1023, 'x') + "\nh\n1\n");
    EXPECT_EQ(std::string(exact.salt), std::string(63, 'x'));
    EXPECT_STREQ(exact.hash, "");
    EXPECT_EQ(exact.hasPassword, 0);
    EXPECT_EQ(exact.enabled, 0);  // "h" landed on the switch line
    ASSERT_EQ(exact.siteCount, 1);
    EXPECT_STREQ(exact.sites[0], "1");

    // 1022 bytes and the LF fit one read.
    VbConfig fits = Parse(std::string(1022, 'x') + "\nh\n1\n");
    EXPECT_STREQ(fits.hash, "h");
    EXPECT_EQ(fits.enabled, 1);

    // A site line of 2100 bytes gives pieces of 1023, 1023 and 54 bytes.
    VbConfig sites = Parse("s\nh\n1\n" + std::string(2100, 'y') + "\n");
    ASSERT_EQ(sites.siteCount, 3);
    EXPECT_EQ(std::string(sites.sites[2]), std::string(54, 'y'));
}

TEST(ConfigText, NulByteEndsTheLineText) {
    VbConfig config = Parse("sa\0lt\nh\n1\nab\0cd\n"s);
    EXPECT_STREQ(config.salt, "sa");
    EXPECT_EQ(config.enabled, 1);
    ASSERT_EQ(config.siteCount, 1);
    EXPECT_STREQ(config.sites[0], "ab");
}

TEST(ConfigText, SaveWritesThreeLinesAndOnePerSiteWithLfOnly) {
    VbConfig config = {};
    EXPECT_EQ(Format(config), "\n\n0\n");

    std::strcpy(config.salt, kSalt.c_str());
    std::strcpy(config.hash, kHash.c_str());
    config.enabled = 7;  // any non-zero value is on
    config.siteCount = 2;
    std::strcpy(config.sites[0], "example.com");
    std::strcpy(config.sites[1], "Kids.Example");
    std::strcpy(config.sites[2], "stale.example");  // past siteCount: never written
    EXPECT_EQ(Format(config), kSalt + "\n" + kHash + "\n1\nexample.com\nKids.Example\n");
}

TEST(ConfigText, RoundTripGivesTheRecordBack) {
    VbConfig config = {};
    std::strcpy(config.salt, kSalt.c_str());
    std::strcpy(config.hash, kHash.c_str());
    config.hasPassword = 1;
    config.enabled = 1;
    config.siteCount = 64;
    for (int i = 0; i < 64; ++i)
        std::memset(config.sites[i], 'a' + i % 26, 255);

    VbConfig back = Parse(Format(config));
    EXPECT_EQ(0, std::memcmp(&config, &back, sizeof config));

    // Without a password the hash line is empty and reads back as no password.
    VbConfig open = {};
    open.enabled = 0;
    open.siteCount = 1;
    std::strcpy(open.sites[0], "example.org");
    VbConfig openBack = Parse(Format(open));
    EXPECT_EQ(0, std::memcmp(&open, &openBack, sizeof open));
}

TEST(ConfigText, EmptyUsedSlotIsWrittenAsABlankLineAndGoneAfterLoad) {
    VbConfig config = {};
    config.siteCount = 2;
    std::strcpy(config.sites[1], "b.example");
    std::string text = Format(config);
    EXPECT_EQ(text, "\n\n0\n\nb.example\n");
    VbConfig back = Parse(text);
    EXPECT_EQ(back.siteCount, 1);
    EXPECT_STREQ(back.sites[0], "b.example");
}
