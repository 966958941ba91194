// The bounded copies every fixed array in the program is filled through:
// a text that does not fit is refused, nothing is written past the
// capacity given, and the destination stays a terminated text.
#include <gtest/gtest.h>

#include <cstring>

#include "common/fixed_text.h"

namespace {

// An area whose bytes past the capacity under test are watched.
struct Guarded {
    char bytes[16];
    Guarded() { std::memset(bytes, '#', sizeof bytes); }
    bool UntouchedFrom(size_t capacity) const
    {
        for (size_t i = capacity; i < sizeof bytes; ++i)
            if (bytes[i] != '#')
                return false;
        return true;
    }
};

} // namespace

TEST(FixedText, CopyFitsOrIsRefusedEmpty)
{
    Guarded area;
    EXPECT_TRUE(CopyTextBounded(area.bytes, 4, "abc"));
    EXPECT_STREQ("abc", area.bytes);
    EXPECT_FALSE(CopyTextBounded(area.bytes, 4, "abcd"));
    EXPECT_STREQ("", area.bytes);
    EXPECT_TRUE(area.UntouchedFrom(4));

    Guarded none;
    EXPECT_FALSE(CopyTextBounded(none.bytes, 0, "a"));
    EXPECT_FALSE(CopyTextCut(none.bytes, 0, "a", 1));
    EXPECT_TRUE(none.UntouchedFrom(0));
}

TEST(FixedText, AppendLeavesTheTextAsItWasOnOverflow)
{
    Guarded area;
    ASSERT_TRUE(CopyTextBounded(area.bytes, 6, "ab"));
    EXPECT_FALSE(AppendTextBounded(area.bytes, 6, "cdef"));
    EXPECT_STREQ("ab", area.bytes);
    EXPECT_TRUE(AppendTextBounded(area.bytes, 6, "cde"));
    EXPECT_STREQ("abcde", area.bytes);
    EXPECT_TRUE(area.UntouchedFrom(6));

    // No terminator within the capacity: nothing to append to safely.
    Guarded unterminated;
    EXPECT_FALSE(AppendTextBounded(unterminated.bytes, 8, ""));
    EXPECT_TRUE(unterminated.UntouchedFrom(0));
}

TEST(FixedText, CutCopiesWhatFitsAndSaysWhetherItWasWhole)
{
    Guarded area;
    EXPECT_FALSE(CopyTextCut(area.bytes, 4, "abcdef", 6));
    EXPECT_STREQ("abc", area.bytes);
    EXPECT_TRUE(CopyTextCut(area.bytes, 4, "abcdef", 2));
    EXPECT_STREQ("ab", area.bytes);
    EXPECT_TRUE(area.UntouchedFrom(4));

    char small[6] = "abc";
    EXPECT_FALSE(AppendTextCut(small, "defg"));
    EXPECT_STREQ("abcde", small);
}

TEST(FixedText, JoinIsAllOrNothing)
{
    char joined[8] = "old";
    EXPECT_TRUE(JoinText(joined, {"ab", "", "cd"}));
    EXPECT_STREQ("abcd", joined);
    EXPECT_FALSE(JoinText(joined, {"abcd", "efgh"}));
    EXPECT_STREQ("", joined);
}
