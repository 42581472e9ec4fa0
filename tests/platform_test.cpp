// bcrypt's salts and hashes as the agent takes them, against answers worked out with
// another SHA-256 tool.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <set>
#include <string>

#include "password/password.h"
#include "tests/support/test_support.h"

namespace {

std::string Hash(const char* salt, const std::string& password) {
    char out[128];
    EXPECT_EQ(VbHashPassword(salt, password.c_str(), out, sizeof out), 1);
    return out;
}

}  // namespace

TEST(PasswordHash, KnownAnswersAndTheirLimits) {
    struct Row {
        const char* salt;
        std::string password, hash;
    } rows[] = {
        {kSalt, "secret", kSecretHash},
        {kSalt, "", "0e43346138f44311ed73562ad4d97d1a223f98548b5ce763690cbb2eb04e523e"},
        {"", "pw", "61fbe1d03488914101f1f1350ab60c16460972964da5ddcfd0a848ed79b6b192"},
        {kSalt, "h\xC3\xA9llo\xE2\x82\xAC",
         "954d2bb35aae5bb7e4950e745803d3ad72151f968fcebf5d5967a3b299d3652c"},
        // Only the first 1023 bytes of "salt:password" count: 990 of the password.
        {kSalt, std::string(2000, 'a'),
         "397da546e4b7b1b6cd7628639f58d73538d29b471995bc15557eb9d772e08101"},
        {kSalt, std::string(990, 'a') + "zzz",
         "397da546e4b7b1b6cd7628639f58d73538d29b471995bc15557eb9d772e08101"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Hash(row.salt, row.password), row.hash) << row.password.substr(0, 20);
    EXPECT_NE(Hash(kSalt, std::string(989, 'a') + "z"), rows[4].hash);

    // Too small a buffer is never written: 64 and 32 bytes are one short.
    char out[128];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(VbHashPassword(kSalt, "secret", out, 64) + VbGenerateSalt(out, 32), 0);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#'));
    EXPECT_EQ(VbHashPassword(kSalt, "secret", out, 65), 1);
    EXPECT_EQ(std::string(out, 66), std::string(kSecretHash) + '\0' + '#');
    EXPECT_EQ(VbGenerateSalt(out, 33), 1);
    EXPECT_EQ(out[32], '\0');

    // Only the exact stored text verifies; an empty stored hash never does.
    std::string upper = kSecretHash;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string empty = rows[1].hash;
    struct Check {
        const char* salt;
        std::string stored;
        const char* typed;
        int verified;
    } checks[] = {
        {kSalt, kSecretHash, "secret", 1},
        {"0123456789abcdef0123456789abcdee", kSecretHash, "secret", 0},
        {kSalt, upper, "secret", 0},
        {kSalt, std::string(kSecretHash) + " ", "secret", 0},
        {kSalt, "", "", 0},
        {kSalt, empty, "", 1},
        {kSalt, empty, " ", 0},
    };
    for (const Check& check : checks)
        EXPECT_EQ(VbVerifyPassword(check.salt, check.stored.c_str(), check.typed), check.verified)
            << check.stored << " / \"" << check.typed << '"';

    // Fresh salts differ, in lowercase hexadecimal.
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(VbGenerateSalt(out, sizeof out), 1);
        EXPECT_EQ(std::strspn(out, "0123456789abcdef") + std::strlen(out), 64u) << out;
        seen.insert(out);
    }
    EXPECT_EQ(seen.size(), 50u);
}
