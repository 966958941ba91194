// The code-page 1252 stand-in for CharUpperBuffA. The same table is checked
// against the real function under Wine (tests/wine/upper_case_table_test).
#include <gtest/gtest.h>

#include "host_standin.h"
#include "upper_case_table.h"

TEST(UpperCaseStandIn, MatchesTheRecordedWindowsTableOnAllBytes)
{
    for (int c = 0; c < 256; ++c) {
        char byte = static_cast<char>(c);
        CharUpperBuffA(&byte, 1);
        EXPECT_EQ(kCp1252Upper[c], static_cast<unsigned char>(byte)) << "byte " << c;
    }
}
