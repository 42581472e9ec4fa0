// Salt and hash against answers worked out with another SHA-256 implementation.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "password/password.h"

namespace {

const char kSalt[] = "0123456789abcdef0123456789abcdef";

std::string Hash(const char* salt, const char* password) {
    char out[128];
    EXPECT_EQ(VbHashPassword(salt, password, out, sizeof out), 1);
    return out;
}

}  // namespace

TEST(PasswordHash, KnownAnswers) {
    // sha256("0123456789abcdef0123456789abcdef:secret") and friends.
    EXPECT_EQ(Hash(kSalt, "secret"),
              "8917ae349b3abd701ffcd51e40fd8aacca08f7ed11cc2688a79f72ab380e7460");
    EXPECT_EQ(Hash(kSalt, ""), "0e43346138f44311ed73562ad4d97d1a223f98548b5ce763690cbb2eb04e523e");
    EXPECT_EQ(Hash("", "pw"), "61fbe1d03488914101f1f1350ab60c16460972964da5ddcfd0a848ed79b6b192");
    // The password's UTF-8 bytes are hashed as they are.
    EXPECT_EQ(Hash(kSalt, "h\xC3\xA9llo\xE2\x82\xAC"),
              "954d2bb35aae5bb7e4950e745803d3ad72151f968fcebf5d5967a3b299d3652c");
}

TEST(PasswordHash, OnlyTheFirst1023BytesOfTheMessageCount) {
    std::string longPassword(2000, 'a');
    EXPECT_EQ(Hash(kSalt, longPassword.c_str()),
              "397da546e4b7b1b6cd7628639f58d73538d29b471995bc15557eb9d772e08101");
    // 33 bytes of salt and colon leave 990 bytes of password that count.
    std::string differsLater = std::string(990, 'a') + "zzz";
    EXPECT_EQ(Hash(kSalt, differsLater.c_str()), Hash(kSalt, longPassword.c_str()));
    std::string differsInside = std::string(989, 'a') + "z";
    EXPECT_NE(Hash(kSalt, differsInside.c_str()), Hash(kSalt, longPassword.c_str()));
}

TEST(PasswordHash, VerifyMatchesOnlyTheExactStoredText) {
    std::string stored = Hash(kSalt, "secret");
    EXPECT_EQ(VbVerifyPassword(kSalt, stored.c_str(), "secret"), 1);
    EXPECT_EQ(VbVerifyPassword(kSalt, stored.c_str(), "Secret"), 0);
    EXPECT_EQ(VbVerifyPassword(kSalt, stored.c_str(), "secret "), 0);
    EXPECT_EQ(VbVerifyPassword("0123456789abcdef0123456789abcdee", stored.c_str(), "secret"), 0);

    std::string upper = stored;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(VbVerifyPassword(kSalt, upper.c_str(), "secret"), 0);
    EXPECT_EQ(VbVerifyPassword(kSalt, (stored + " ").c_str(), "secret"), 0);
    EXPECT_EQ(VbVerifyPassword(kSalt, "", "secret"), 0);
    EXPECT_EQ(VbVerifyPassword(kSalt, "", ""), 0);  // an empty stored hash never matches

    std::string empty = Hash(kSalt, "");
    EXPECT_EQ(VbVerifyPassword(kSalt, empty.c_str(), ""), 1);
    EXPECT_EQ(VbVerifyPassword(kSalt, empty.c_str(), " "), 0);
}

TEST(PasswordHash, CapacityTooSmallWritesNothing) {
    char out[128];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(VbHashPassword(kSalt, "secret", out, 64), 0);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#'));
    EXPECT_EQ(VbHashPassword(kSalt, "secret", out, 65), 1);
    EXPECT_EQ(std::strlen(out), 64u);
    EXPECT_EQ(out[65], '#');  // nothing past the NUL

    char salt[64];
    std::memset(salt, '#', sizeof salt);
    EXPECT_EQ(VbGenerateSalt(salt, 32), 0);
    EXPECT_EQ(std::string(salt, sizeof salt), std::string(sizeof salt, '#'));
    EXPECT_EQ(VbGenerateSalt(salt, 33), 1);
    EXPECT_EQ(std::strlen(salt), 32u);
    EXPECT_EQ(salt[33], '#');
}

TEST(PasswordSalt, FreshSaltsDifferAndUseLowercaseHex) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        char salt[64];
        ASSERT_EQ(VbGenerateSalt(salt, sizeof salt), 1);
        std::string text = salt;
        ASSERT_EQ(text.size(), 32u);
        EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 50u);

    char a[64], b[64];
    ASSERT_EQ(VbGenerateSalt(a, sizeof a), 1);
    ASSERT_EQ(VbGenerateSalt(b, sizeof b), 1);
    EXPECT_NE(Hash(a, "same password"), Hash(b, "same password"));
    EXPECT_EQ(Hash(a, "same password"), Hash(a, "same password"));
}
