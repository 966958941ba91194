// Paths and searches on the double-byte code pages, and on 1252: 0x95 0x5C
// (表) and 0x81 0x41 are characters on all four; 0xB3 is one on 932 alone.
#include <gtest/gtest.h>

#include "common/fixed_text.h"
#include "download/text_search.h"
#include "host_standin.h"
#include "install/paths.h"

TEST(CodePages, NoBackslashOrMatchStartsInsideACharacter)
{
    const unsigned kAllFour = 0;
    const struct {
        unsigned codePage;
        const char *text, *pattern;
        int forward, backward;          // FindTextNoCase, FindLastTextNoCase
        const char *directory, *closed; // GetProgramDirectory, EnsureTrailingBackslash
    } cases[] = {
        {kAllFour, "C:\\\x95\x5C", "\\", 3, 2, "C:", "C:\\\x95\x5C\\"},
        {1252, "C:\\\x95\x5C", "\\", 3, 4, "C:\\\x95", "C:\\\x95\x5C"},
        {kAllFour, "\"C:\\\x95\x5C\\x.exe\"", "\\", 4, 6, "C:\\\x95\x5C",
         "\"C:\\\x95\x5C\\x.exe\"\\"},
        {932, "C:\\\xB3\x5C", "\\", 3, 4, "C:\\\xB3", "C:\\\xB3\x5C"},
        {950, "C:\\\xB3\x5C", "\\", 3, 2, "C:", "C:\\\xB3\x5C\\"},
        {kAllFour, "\x81\x41\x42\x43", "abc", 0, 0, "", "\x81\x41\x42\x43\\"},
        {1252, "\x81\x41\x42\x43", "abc", 2, 1, "", "\x81\x41\x42\x43\\"},
        // Before a byte no second byte can be, a lead byte stands alone.
        {kAllFour, "\x95\"\\", "\\", 3, 2, "\x95\"", "\x95\"\\"},
    };
    for (const auto& c : cases) {
        for (unsigned page : {932u, 936u, 949u, 950u, 1252u}) {
            if (c.codePage != page && (c.codePage != kAllFour || page == 1252))
                continue;
            SetHostCodePage(page);
            SCOPED_TRACE(testing::Message() << "code page " << page << ", " << c.text);
            EXPECT_EQ(c.forward, FindTextNoCase(c.text, c.pattern));
            EXPECT_EQ(c.backward, FindLastTextNoCase(c.text, c.pattern));
            char path[kMaxPathArea];
            GetProgramDirectory(c.text, path);
            EXPECT_STREQ(c.directory, path);
            CopyText(path, c.text);
            EXPECT_TRUE(EnsureTrailingBackslash(path));
            EXPECT_STREQ(c.closed, path);
            // A cut never splits a character.
            char cut[4];
            CopyTextCut(cut, sizeof cut, "\x95\x5C\x95\x5C", 4);
            EXPECT_STREQ(page == 1252 ? "\x95\x5C\x95" : "\x95\x5C", cut);
        }
    }
    SetHostCodePage(1252);
}
