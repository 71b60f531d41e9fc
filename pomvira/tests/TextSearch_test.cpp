// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/TextSearch.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace {

// Plain reference search for cross-checking the skip-table search.
int NaivePos(const std::string& pattern, const std::string& text, int startPos) {
    const std::size_t from = startPos < 1 ? 0 : std::size_t(startPos) - 1;
    if (pattern.empty() || from > text.size()) {
        return 0;
    }
    const std::size_t found = text.find(pattern, from);
    return found == std::string::npos ? 0 : int(found) + 1;
}

}  // namespace

TEST(TextPosTest, ForwardFindsDoubledBackslashInPath) {
    EXPECT_EQ(TextPos("\\\\", "C:\\a\\\\b", true, true, 1), 5);
    EXPECT_EQ(TextPos("//", "/a/b//c", true, true, 1), 5);
    EXPECT_EQ(TextPos("//", "/a/b/c", true, true, 1), 0);
}

TEST(TextPosTest, ForwardHonoursStartPositionAndLimits) {
    EXPECT_EQ(TextPos("ab", "abxab", true, true, 1), 1);
    EXPECT_EQ(TextPos("ab", "abxab", true, true, 2), 4);
    EXPECT_EQ(TextPos("ab", "abxab", true, true, 4), 4);
    EXPECT_EQ(TextPos("ab", "abxab", true, true, 5), 0);  // beyond the last start
    EXPECT_EQ(TextPos("ab", "abxab", true, true, 0), 1);
    EXPECT_EQ(TextPos("", "abc", true, true, 1), 0);
    EXPECT_EQ(TextPos("abcd", "abc", true, true, 1), 0);
    EXPECT_EQ(TextPos("abc", "abc", true, true, 1), 1);
}

TEST(TextPosTest, ForwardAgreesWithPlainSearch) {
    // Patterns with repeated bytes exercise the skip distances.
    const std::string text = "abracadabra abababbab aaaaab xyzzy \x80\xff abab";
    const char* patterns[] = {"abra", "bab", "aab", "abab", "zz", "y", "\x80\xff", "a", "bb"};
    for (const char* p : patterns) {
        for (int start = 1; start <= int(text.size()); ++start) {
            EXPECT_EQ(TextPos(p, text, true, true, start), NaivePos(p, text, start))
                << "pattern " << p << " start " << start;
        }
    }
}

TEST(TextPosTest, BackwardFindsRightmostAtOrBeforeStart) {
    EXPECT_EQ(TextPos("ab", "abxabx", true, false, 0), 4);
    EXPECT_EQ(TextPos("ab", "abxabx", true, false, 100), 4);
    EXPECT_EQ(TextPos("ab", "abxabx", true, false, 3), 1);
    EXPECT_EQ(TextPos("ab", "abxabx", true, false, 1), 1);
    EXPECT_EQ(TextPos("ab", "xbxbxb", true, false, 0), 0);
    EXPECT_EQ(TextPos("abx", "abx", true, false, 0), 1);
}

TEST(TextPosTest, CaseInsensitiveUsesCodePage1252Letters) {
    EXPECT_EQ(TextPos("VIDEO", "my video", false, true, 1), 4);
    EXPECT_EQ(TextPos("VIDEO", "my video", true, true, 1), 0);
    EXPECT_EQ(TextPos("video", "MY VIDEO", false, false, 0), 4);
    // é (0xE9) / É (0xC9), œ (0x9C) / Œ (0x8C), ÿ (0xFF) / Ÿ (0x9F)
    EXPECT_EQ(TextPos("\xC9t\xC9", "l'\xE9t\xE9", false, true, 1), 3);
    EXPECT_EQ(TextPos("\x9C", "C\x8C", false, true, 1), 2);
    EXPECT_EQ(TextPos("\xFF", "x\x9F", false, false, 0), 2);
    // The division sign and ß have no upper case.
    EXPECT_EQ(UpperCaseChar(0xF7), 0xF7);
    EXPECT_EQ(UpperCaseChar(0xDF), 0xDF);
    EXPECT_EQ(UpperCaseChar('1'), '1');
}

TEST(SkipTableTest, DistancesAndEmptyPattern) {
    TSkipTable table;
    BuildSkipTable("abcab", table);
    EXPECT_EQ(table['a'], 1u);  // last 'a' before the end is at index 3
    EXPECT_EQ(table['b'], 3u);  // the final 'b' does not count
    EXPECT_EQ(table['c'], 2u);
    EXPECT_EQ(table['z'], 5u);
    try {
        BuildSkipTable("", table);
        FAIL() << "empty pattern accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "BufferLen is 0");
    }
}

TEST(TextReplaceTest, ReplacesLeftToRightWithoutOverlap) {
    EXPECT_EQ(TextReplace("\\\\\\", "\\\\", "\\", true), "\\\\");
    EXPECT_EQ(TextReplace("aaaa", "aa", "a", true), "aa");
    EXPECT_EQ(TextReplace("one two one", "one", "three", true), "three two three");
    EXPECT_EQ(TextReplace("One ONE one", "one", "1", false), "1 1 1");
    EXPECT_EQ(TextReplace("One ONE one", "one", "1", true), "One ONE 1");
    EXPECT_EQ(TextReplace("abc", "x", "yyyy", true), "abc");
    EXPECT_EQ(TextReplace("xxx", "x", "", true), "");
    EXPECT_EQ(TextReplace("", "x", "y", true), "");
    EXPECT_THROW(TextReplace("abc", "", "y", true), std::runtime_error);
}
