// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/TextConv.h"

#include <gtest/gtest.h>

TEST(WideToAnsiTest, FrenchMessageWithTypographicApostrophe) {
    std::string result;
    const int n = WideToAnsi(u"Erreur dans l\u2019envoi du message.", result);
    EXPECT_EQ(n, 31);
    ASSERT_EQ(result.size(), 31u);
    EXPECT_EQ(result,
              "Erreur dans l\x92"
              "envoi du message.");
    EXPECT_EQ(WideToAnsiText(u"Erreur dans l\u2019envoi du message."), result);
}

TEST(WideToAnsiTest, LatinLettersHighBlockAndUnmappable) {
    EXPECT_EQ(WideToAnsiText(u"\u00E9t\u00E9 \u00C7a \u00FF"),
              "\xE9t\xE9 \xC7"
              "a \xFF");
    EXPECT_EQ(WideToAnsiText(u"\u20AC\u0152\u0178\u2122\u2026"), "\x80\x8C\x9F\x99\x85");
    // Outside the code page: Korean, Greek, a character beyond the BMP (one
    // character, two UTF-16 units), a lone surrogate.
    EXPECT_EQ(WideToAnsiText(u"\uD55C\u03A9"), "??");
    EXPECT_EQ(WideToAnsiText(u"a\U0001F600b"), "a?b");
    EXPECT_EQ(WideToAnsiText(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
    std::string result = "stale";
    EXPECT_EQ(WideToAnsi(u"", result), 0);
    EXPECT_TRUE(result.empty());
}

TEST(AnsiToTextTest, DecodesEveryByteAndRoundTrips) {
    EXPECT_EQ(AnsiToText("l\x92"
                         "envoi \x80"),
              QString::fromUtf8("l\u2019envoi \u20AC"));
    // Every byte decodes to a character that converts back to that byte.
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, char(b));
        const QString text = AnsiToText(byte);
        ASSERT_EQ(text.size(), 1);
        EXPECT_EQ(WideToAnsiText(text.toStdU16String()), byte) << "byte " << b;
    }
}
