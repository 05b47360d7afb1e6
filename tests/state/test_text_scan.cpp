// Contract tables of the scans: the exact not-found values the parsers rely on.
#include <gtest/gtest.h>

#include "state/text_scan.h"

TEST(FindBar, NotFoundGivesLengthSoTheByteThereIsNul) {
    EXPECT_EQ(find_bar("abc|def"), 3);
    EXPECT_EQ(find_bar("|abc"), 0);
    EXPECT_EQ(find_bar("abc"), 3);
    EXPECT_EQ(find_bar(""), 0);
    const char* text = "abc";
    EXPECT_EQ(text[find_bar(text)], '\0');
}

TEST(FindChar, NotFoundGivesOnePastTheNulNotTheLength) {
    EXPECT_EQ(find_char("ab cd", ' '), 2);
    EXPECT_EQ(find_char(" x", ' '), 0);
    EXPECT_EQ(find_char("abcd", ' '), 5);
    EXPECT_EQ(find_char("", ' '), 1);
    EXPECT_EQ(find_char("abcd", '\0'), 4);  // the terminator is the sought byte
}

TEST(FindChar, HighBytesAreOrdinaryCharacters) {
    const char text[] = "\xC0\xE1\xFF|\x80";
    EXPECT_EQ(find_char(text, '\xFF'), 2);
    EXPECT_EQ(find_char(text, '\x80'), 4);
    EXPECT_EQ(find_char(text, '\x81'), 6);
    EXPECT_EQ(find_bar(text), 3);
}

// The scanned text sits after a NUL, as in the NUL-padded records it is used on.
static int back_from_last(const char* text, char buffer[32]) {
    buffer[0] = '\0';
    int n = 0;
    while (text[n] != '\0') {
        buffer[1 + n] = text[n];
        n++;
    }
    buffer[1 + n] = '\0';
    return find_char_back(buffer, buffer + n, '\\');  // buffer + n is the last character
}

TEST(FindCharBack, StopsAtBackslashOrAtTheNulBeforeTheText) {
    char buffer[32];
    EXPECT_EQ(back_from_last("dir\\file.txt", buffer), -8);
    EXPECT_STREQ(buffer + 12 - 8 + 1, "file.txt");
    EXPECT_EQ(back_from_last("file.txt", buffer), -8);
    EXPECT_STREQ(buffer + 8 - 8 + 1, "file.txt");
    EXPECT_EQ(back_from_last("dir\\", buffer), 0);
    const char nul_at_p[] = "ab\0";
    EXPECT_EQ(find_char_back(nul_at_p, nul_at_p + 2, '\\'), 0);
}

TEST(FindCharBack, HighByteDoesNotStopTheScan) {
    const char text[] = "\0\\\xDC\xFF";
    EXPECT_EQ(find_char_back(text, text + 3, '\\'), -2);
}

struct PastCase {
    const char* text;
    const char* pattern;
    int result;
};

TEST(FindPast, ContractTable) {
    const PastCase cases[] = {
        {"xxabcyy", "abc", 5}, {"abc", "ab", 2},  {"xxabc", "abc", 5}, {"abc", "b", 2},
        {"ab", "b", 2},        {"abab", "ab", 2}, {"aab", "ab", 3},    {"aaab", "aab", 0},
        {"xyz", "ab", 0},      {"xab", "abc", 0}, {"", "a", 0},        {"abc", "", 0},
    };
    for (const PastCase& c : cases) {
        EXPECT_EQ(find_past(c.text, c.pattern), c.result) << c.text << " / " << c.pattern;
    }
}

TEST(FindPast, MismatchingByteIsItselfTriedAsAStart) {
    // 'aab': the partial match 'a' fails at the second 'a', which then starts 'ab'.
    EXPECT_EQ(find_past("aab", "ab"), 3);
    EXPECT_EQ(find_past("$$Lock x", "$Lock"), 6);
}

TEST(FindPast, NeverReportsAnIncompleteMatchAtTheEnd) {
    EXPECT_EQ(find_past("MyINFO $AL", "MyINFO $ALL "), 0);
    EXPECT_EQ(find_past("a", "ab"), 0);
}

TEST(FindPast, HighBytesMatchByValue) {
    EXPECT_EQ(find_past("x\xC0\xC1y", "\xC0\xC1"), 3);
    EXPECT_EQ(find_past("x\xC0\xC2y", "\xC0\xC1"), 0);
}

TEST(IsPrefix, ContractTable) {
    EXPECT_EQ(is_prefix("abc", "abcdef"), 1);
    EXPECT_EQ(is_prefix("abc", "abc"), 1);
    EXPECT_EQ(is_prefix("", "anything"), 1);
    EXPECT_EQ(is_prefix("", ""), 1);
    EXPECT_EQ(is_prefix("abc", "ab"), 0);
    EXPECT_EQ(is_prefix("abc", "abd"), 0);
    EXPECT_EQ(is_prefix("\xE0", "\xE1"), 0);
}
