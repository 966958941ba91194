// Version records to codes and descriptions, spaces and all.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inspect/windows_version.h"

namespace {

OSVERSIONINFOA Record(DWORD platform, DWORD major, DWORD minor, DWORD build, const char* csd)
{
    OSVERSIONINFOA r;
    std::memset(&r, 0, sizeof r);
    r.dwOSVersionInfoSize = sizeof r;
    r.dwPlatformId = platform;
    r.dwMajorVersion = major;
    r.dwMinorVersion = minor;
    r.dwBuildNumber = build;
    std::strncpy(r.szCSDVersion, csd, sizeof r.szCSDVersion - 1);
    return r;
}

struct VersionCase {
    DWORD platform, major, minor, build;
    const char* csd;
    int code;
    const char* description;
};

} // namespace

TEST(WindowsVersion, CodesAndDescriptions)
{
    const VersionCase cases[] = {
        {2, 5, 1, 2600, "Service Pack 1", 8, "Windows XP  Service Pack 1 Ver 5.1 (2600)"},
        {1, 4, 10, 67766222, "", 3, "Windows 98   Ver 4.10 (67766222)"},
        {1, 4, 10, 67766446, " A ", 3, "Windows 98   A  Ver 4.10 (67766446)"},
        {2, 4, 0, 1381, "Service Pack 6", 5, "Windows NT  Service Pack 6 Ver 4.0 (1381)"},
        {2, 5, 0, 2195, "Service Pack 4", 7, "Windows 2000  Service Pack 4 Ver 5.0 (2195)"},
        {2, 5, 2, 3790, "", 9, "Windows Server 2003   Ver 5.2 (3790)"},
        {2, 5, 3, 1, "", 9, "Windows Server 2003   Ver 5.3 (1)"},
        {2, 3, 51, 1057, "", 4, "Windows NT   Ver 3.51 (1057)"},
        {2, 6, 0, 6000, "", 5, "Windows NT   Ver 6.0 (6000)"},
        {1, 4, 0, 67109814, "", 2, "Windows 95   Ver 4.0 (67109814)"},
        {1, 4, 9, 1, "", 2, "Windows 95   Ver 4.9 (1)"},
        {1, 7, 89, 1, "", 3, "Windows 98   Ver 7.89 (1)"},
        {1, 4, 90, 73010104, "", 6, "Windows ME   Ver 4.90 (73010104)"},
        {0, 3, 10, 0, "Win32s 1.3", 1, "Windows 32s on Windows 3.1  Win32s 1.3 Ver 3.10 (0)"},
        {3, 5, 1, 2600, "x", 0, ""},
        {0xFFFFFFFF, 5, 1, 2600, "x", 0, ""},
        // Fields are printed as signed 32-bit numbers.
        {2, 5, 1, 0x80000000u, "", 8, "Windows XP   Ver 5.1 (-2147483648)"},
    };
    for (const VersionCase& c : cases) {
        char description[kVersionTextArea] = "stale";
        OSVERSIONINFOA r = Record(c.platform, c.major, c.minor, c.build, c.csd);
        EXPECT_EQ(c.code, DescribeWindowsVersion(r, description)) << c.description;
        EXPECT_STREQ(c.description, description);
    }
}

TEST(WindowsVersion, LongestServicePackTextStandsWhole)
{
    std::string csd(127, 'S');
    char description[kVersionTextArea];
    OSVERSIONINFOA r = Record(2, 5, 2, 3790, csd.c_str());
    EXPECT_EQ(9, DescribeWindowsVersion(r, description));
    EXPECT_EQ("Windows Server 2003  " + csd + " Ver 5.2 (3790)", std::string(description));
    // A record whose text lacks its terminator is cut, not overrun.
    std::memset(r.szCSDVersion, 'T', sizeof r.szCSDVersion);
    DescribeWindowsVersion(r, description);
    EXPECT_EQ("Windows Server 2003  " + std::string(128, 'T') + " Ver 5.2 (3790)",
              std::string(description));
}
