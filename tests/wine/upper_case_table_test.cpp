// The real CharUpperBuffA (code page 1252, as Wine's default English
// setting gives) against the table the build-machine stand-in is checked on.
#include <gtest/gtest.h>
#include <windows.h>

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
