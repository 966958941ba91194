// Paths and searches read by characters on the double-byte code pages
// (932 Japanese, 936 and 950 Chinese, 949 Korean), where a character's
// second byte may be a backslash's or a letter's; on 1252 every result is
// the byte-wise one.
#include <gtest/gtest.h>

#include "common/fixed_text.h"
#include "download/text_search.h"
#include "host_standin.h"
#include "install/paths.h"

namespace {

// 0x95 0x5C and 0x81 0x41 are characters on all four double-byte code pages
// (Japanese 表 and 、); 0xB3 is one on 932 (a half-width katakana) but a lead
// byte on the three others. On 1252 each byte is a character.
const unsigned kEveryDoubleByte = 0;

struct PlayingCodePage {
    explicit PlayingCodePage(unsigned page) { SetHostCodePage(page); }
    ~PlayingCodePage() { SetHostCodePage(1252); }
};

} // namespace

TEST(CodePages, NoBackslashOrMatchStartsInsideACharacter)
{
    const struct {
        unsigned codePage;
        const char* text;
        const char* pattern;
        int forward, backward; // FindTextNoCase, FindLastTextNoCase
        const char* directory; // GetProgramDirectory
        const char* closed;    // EnsureTrailingBackslash
    } cases[] = {
        {kEveryDoubleByte, "C:\\\x95\x5C", "\\", 3, 2, "C:", "C:\\\x95\x5C\\"},
        {1252, "C:\\\x95\x5C", "\\", 3, 4, "C:\\\x95", "C:\\\x95\x5C"},
        {kEveryDoubleByte, "\x95\x5C\\x.exe", "\\", 3, 2, "\x95\x5C", "\x95\x5C\\x.exe\\"},
        {1252, "\x95\x5C\\x.exe", "\\", 2, 2, "\x95\x5C", "\x95\x5C\\x.exe\\"},
        {kEveryDoubleByte, "\"C:\\\x95\x5C\\x.exe\"", "\\", 4, 6, "C:\\\x95\x5C",
         "\"C:\\\x95\x5C\\x.exe\"\\"},
        {932, "C:\\\xB3\x5C", "\\", 3, 4, "C:\\\xB3", "C:\\\xB3\x5C"},
        {936, "C:\\\xB3\x5C", "\\", 3, 2, "C:", "C:\\\xB3\x5C\\"},
        {949, "C:\\\xB3\x5C", "\\", 3, 2, "C:", "C:\\\xB3\x5C\\"},
        {950, "C:\\\xB3\x5C", "\\", 3, 2, "C:", "C:\\\xB3\x5C\\"},
        {kEveryDoubleByte, "\x81\x41\x42\x43", "abc", 0, 0, "", "\x81\x41\x42\x43\\"},
        {1252, "\x81\x41\x42\x43", "abc", 2, 1, "", "\x81\x41\x42\x43\\"},
        // Before a byte that no second byte can be, a lead byte stands alone.
        {kEveryDoubleByte, "\x95\"\\", "\\", 3, 2, "\x95\"", "\x95\"\\"},
    };
    for (const auto& c : cases) {
        for (unsigned page : {932u, 936u, 949u, 950u, 1252u}) {
            if (c.codePage != page && (c.codePage != kEveryDoubleByte || page == 1252))
                continue;
            PlayingCodePage playing(page);
            SCOPED_TRACE(testing::Message() << "code page " << page << ", " << c.text);
            EXPECT_EQ(c.forward, FindTextNoCase(c.text, c.pattern));
            EXPECT_EQ(c.backward, FindLastTextNoCase(c.text, c.pattern));
            char directory[kMaxPathArea];
            GetProgramDirectory(c.text, directory);
            EXPECT_STREQ(c.directory, directory);
            char closed[kMaxPathArea];
            CopyText(closed, c.text);
            EXPECT_TRUE(EnsureTrailingBackslash(closed));
            EXPECT_STREQ(c.closed, closed);
        }
    }
}

TEST(CodePages, ACutNeverSplitsACharacter)
{
    for (unsigned page : {932u, 1252u}) {
        PlayingCodePage playing(page);
        char cut[4];
        EXPECT_FALSE(CopyTextCut(cut, sizeof cut, "\x95\x5C\x95\x5C", 4));
        EXPECT_STREQ(page == 932 ? "\x95\x5C" : "\x95\x5C\x95", cut) << page;
    }
}
