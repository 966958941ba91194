// Case-insensitive search and cutting: the position conventions every
// caller is written against.
#include <gtest/gtest.h>

#include <string>

#include "download/text_search.h"

struct SearchCase {
    const char* text;
    const char* pattern;
    int expected;
};

TEST(TextSearch, ForwardSearchCountsFromOneIgnoringCase)
{
    const SearchCase cases[] = {
        {"Program Files", "files", 9},
        {"Program Files", "PROGRAM FILES", 1},
        {"Program Files", "x", 0},
        {"Program Files", "", 1},
        {"", "", 1},
        {"", "a", 0},
        {"abc", "abcd", 0},
        {"aXbxc", "xC", 4},
    };
    for (const SearchCase& c : cases) {
        EXPECT_EQ(c.expected, FindTextNoCase(c.text, c.pattern)) << c.text << " / " << c.pattern;
        EXPECT_EQ(c.expected, ContainsTextNoCase(c.text, c.pattern))
            << c.text << " / " << c.pattern;
    }
}

TEST(TextSearch, ContainsTellsALeadingQuoteFromOneFurtherOn)
{
    EXPECT_EQ(1, ContainsTextNoCase("\"C:\\dir\\x.exe\"", "\""));
    EXPECT_EQ(8, ContainsTextNoCase("C:\\dir\\\"x.exe", "\""));
    EXPECT_EQ(0, ContainsTextNoCase("C:\\dir\\x.exe", "\""));
    EXPECT_EQ(1, ContainsTextNoCase("Terminal Server", "terminal server"));
}

TEST(TextSearch, UpperCasingFollowsTheCodePageNotJustAscii)
{
    // e acute (0xE9) and E acute (0xC9) are one letter in code page 1252.
    EXPECT_EQ(3, FindTextNoCase("ab\xE9t", "\xC9T"));
    EXPECT_EQ(0, FindTextNoCase("ab\xE9t", "ET"));
}

TEST(TextSearch, BackwardSearchConventions)
{
    const SearchCase cases[] = {
        {"C:\\dir\\x.exe", "\\", 6},
        {"\\x.exe", "\\", 0}, // at index 0: reads as absent
        {"x.exe", "\\", 0},
        {"\\", "\\", 1},   // equal
        {"a\\b", "\\", 1}, // at index 1: reads as equal
        {"ABCABC", "abc", 3},
        {"AAA", "AA", 1}, // overlapping occurrences
        {"abc", "", 2},   // the last character's index
        {"", "x", 0},
        {"", "", 1},
        {"dir\\SUB\\file", "sub\\", 4},
    };
    for (const SearchCase& c : cases)
        EXPECT_EQ(c.expected, FindLastTextNoCase(c.text, c.pattern))
            << c.text << " / " << c.pattern;
}

TEST(TextSearch, InputsBeyondTheWorkAreasAreRefusedNotOverrun)
{
    std::string longText(8191, 'a');
    longText += "needle";
    EXPECT_EQ(0, FindTextNoCase(longText.c_str(), "needle"));
    std::string fits(8185, 'a');
    fits += "needle"; // 8191 characters: the largest text the area takes
    EXPECT_EQ(8186, FindTextNoCase(fits.c_str(), "NEEDLE"));

    std::string shortLimit(4095, 'b');
    EXPECT_EQ(1, ContainsTextNoCase(shortLimit.c_str(), "b"));
    shortLimit += "b";
    EXPECT_EQ(0, ContainsTextNoCase(shortLimit.c_str(), "b"));
    EXPECT_EQ(0, FindLastTextNoCase(shortLimit.c_str(), "b"));

    std::string longPattern(4096, 'c');
    EXPECT_EQ(0, FindTextNoCase(longPattern.c_str(), longPattern.c_str()));
}

TEST(TextCutting, TailAndHead)
{
    char out[16];
    const struct {
        int count;
        const char* tail;
        const char* head;
    } cases[] = {
        {2, "ef", "ab"}, {6, "abcdef", "abcdef"}, {0, "", ""},
        {-1, "", ""},    {9, "abcdef", "abcdef"}, // more than the source: the whole source
    };
    for (const auto& c : cases) {
        CopyTail("abcdef", out, c.count);
        EXPECT_STREQ(c.tail, out) << c.count;
        CopyHead("abcdef", out, c.count);
        EXPECT_STREQ(c.head, out) << c.count;
    }
}

TEST(TextCutting, SameArrayAsSourceAndDestination)
{
    char text[16] = "abcdef";
    CopyTail(text, text, 2);
    EXPECT_STREQ("ef", text);
    char other[16] = "abcdef";
    CopyHead(other, other, 3);
    EXPECT_STREQ("abc", other);
    char third[16] = "abcdef";
    CopyTail(third, third, 5);
    EXPECT_STREQ("bcdef", third);
}

TEST(TextCutting, ResultThatDoesNotFitIsRefusedAndLeftEmpty)
{
    char small[4] = "zz";
    EXPECT_FALSE(CopyTail("abcdef", small, 4));
    EXPECT_STREQ("", small);
    EXPECT_TRUE(CopyHead("abcdef", small, 3));
    EXPECT_STREQ("abc", small);
}
