#include "platform/CodePage.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(CodePage, CzechLettersAreOneByteEach) {
    auto bytes = Utf8ToCp1250("Příliš žluťoučký kůň úpěl ďábelské ódy");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 38u);
    EXPECT_EQ(static_cast<unsigned char>((*bytes)[1]), 0xF8); // ř
    EXPECT_EQ(Cp1250ToUtf8(*bytes), "Příliš žluťoučký kůň úpěl ďábelské ódy");
}

TEST(CodePage, EveryByteStringRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    auto back = Utf8ToCp1250(Cp1250ToUtf8(all));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, all);
    // The undefined bytes stand for themselves.
    EXPECT_EQ(Cp1250ToUtf8("\x81"), "\xC2\x81");
    EXPECT_EQ(Cp1250ToUtf8("\x80"), "€");
}

TEST(CodePage, TextOutsideTheCodePageIsRefusedNotReplaced) {
    EXPECT_FALSE(Utf8ToCp1250("Ελληνικά"));
    EXPECT_FALSE(Utf8ToCp1250("smajlík 😀"));
    EXPECT_FALSE(Utf8ToCp1250("ñ"));        // Spanish n with tilde is not in Windows-1250
    EXPECT_FALSE(Utf8ToCp1250("\xC3"));     // truncated sequence
    EXPECT_FALSE(Utf8ToCp1250("\xC0\xAF")); // overlong form
    EXPECT_FALSE(FitsCp1250("Ω"));
    EXPECT_TRUE(FitsCp1250("Škoda Ústí"));
}

TEST(CodePage, LowerCaseCoversCentralEuropeanLetters) {
    auto upper = *Utf8ToCp1250("ŘŠČŽÝÁÍÉŮÚŤĎŇĚ");
    auto lower = *Utf8ToCp1250("řščžýáíéůúťďňě");
    ASSERT_EQ(upper.size(), lower.size());
    for (size_t i = 0; i < upper.size(); ++i)
        EXPECT_EQ(Cp1250ToLower(static_cast<unsigned char>(upper[i])),
                  static_cast<unsigned char>(lower[i]))
            << "at " << i;
    EXPECT_EQ(Cp1250ToLower('Q'), 'q');
    EXPECT_EQ(Cp1250ToLower('1'), '1');
}
