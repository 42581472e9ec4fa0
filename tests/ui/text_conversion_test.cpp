// The password cut agrees with the platform's own UTF-16 to UTF-8 conversion.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <string>

#include "ui/ui_text.h"

TEST(PasswordCut, IsAPrefixOfThePlatformConversion) {
    std::mt19937 random(20261206);
    const char16_t pool[] = {u'a',   u'Z',   u' ',   u'\u00e9', u'\u20ac', u'\u4e2d',
                             0xD83D, 0xDE00, 0xD800, 0xDFFF,    u'\uFFFD', u'~'};
    for (int round = 0; round < 2000; ++round) {
        std::u16string text(random() % 140, u'a');
        for (char16_t& unit : text)
            unit = pool[random() % std::size(pool)];

        int needed =
            WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.data()),
                                static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string full(needed, '\0');
        WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.data()),
                            static_cast<int>(text.size()), full.data(), needed, nullptr, nullptr);

        char out[128];
        std::size_t n = Utf16ToUtf8Cut(text, out);
        ASSERT_LE(n, 127u);
        ASSERT_EQ(full.substr(0, n), std::string(out, n)) << "round " << round;
        // Nothing more would have fitted: the next character needs more room.
        if (n < full.size()) {
            std::size_t next = 1;
            while (n + next < full.size() &&
                   (static_cast<unsigned char>(full[n + next]) & 0xC0) == 0x80)
                ++next;
            EXPECT_GT(n + next, 127u) << "round " << round;
        }
    }
}
