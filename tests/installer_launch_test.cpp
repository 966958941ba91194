// Error text helpers; on Windows also the launch and its failure text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/installer_launch.h"

TEST(ErrorText, StripControlCharsEndsTheTextAtTheFirstUnprintableByte)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"\rabc", ""},
        {"The system cannot find the file specified.\r\n",
         "The system cannot find the file specified."},
        {"line one\r\nline two", "line one"},
        {"tab\there", "tab"},
        {"caf\xE9 ok", "caf"},
        {"del\x7Fx", "del"},
        {" ~all printable~ ", " ~all printable~ "},
    };
    for (const auto& c : cases) {
        char text[64];
        std::strcpy(text, c.in);
        StripControlChars(text);
        EXPECT_STREQ(c.out, text) << c.in;
    }
}

TEST(ErrorText, StripControlCharsClearsEveryByteUpToTheOriginalEnd)
{
    char text[] = "ab\ncd\x01"
                  "ef";
    StripControlChars(text);
    EXPECT_EQ(0, std::memcmp("ab\0cd\0ef", text, 9));
}

TEST(ErrorText, DecimalTextIsSigned)
{
    const struct {
        int value;
        const char* text;
    } cases[] = {{0, "0"},
                 {1234, "1234"},
                 {-1, "-1"},
                 {static_cast<int>(0x80070002u), "-2147024894"},
                 {2147483647, "2147483647"}};
    for (const auto& c : cases) {
        char text[12];
        IntToDecimalText(c.value, text);
        EXPECT_STREQ(c.text, text);
    }
}
