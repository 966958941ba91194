// The real CharUpperBuffA (code page 1252, as Wine's default English
// setting gives) and the real lead bytes of each code page the host
// stand-in plays, against the tables the stand-in is checked on.
#include <gtest/gtest.h>
#include <windows.h>

#include "lead_byte_table.h"
#include "upper_case_table.h"

TEST(UpperCase, WindowsAgreesWithTheStandInTableOnAllBytes)
{
    ASSERT_EQ(1252u, GetACP());
    for (int c = 1; c < 256; ++c) {
        char byte = static_cast<char>(c);
        CharUpperBuffA(&byte, 1);
        EXPECT_EQ(kCp1252Upper[c], static_cast<unsigned char>(byte)) << "byte " << c;
    }
}

TEST(LeadBytes, WindowsAgreesWithTheStandInTableOnAllBytes)
{
    for (unsigned page : {932u, 936u, 949u, 950u, 1252u})
        for (int c = 0; c < 256; ++c)
            EXPECT_EQ(IsLeadByteIn(page, static_cast<unsigned char>(c)),
                      IsDBCSLeadByteEx(page, static_cast<BYTE>(c)) != 0)
                << "code page " << page << ", byte " << c;
}
