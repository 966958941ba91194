// Which package each Windows gets, and where it comes from and goes.
#include <gtest/gtest.h>

#include <string>

#include "inspect/package_plan.h"

TEST(PackagePlan, PackageTable)
{
    const struct {
        int code;
        bool server, terminal;
        const char* package;
    } cases[] = {
        {3, false, false, "828028USA8.EXE"},
        {5, false, false, "WindowsNT4Workstation-KB835732-x86-ENU.EXE"},
        {5, false, true, "WindowsNT4Workstation-KB835732-x86-ENU.EXE"},
        {5, true, true, "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"},
        {5, true, false, "WindowsNT4Server-KB835732-x86-ENU.EXE"},
        {6, false, false, "828028USAM.EXE"},
        {7, false, false, "Windows2000-KB835732-x86-ENU.EXE"},
        {8, false, false, "WindowsXP-KB835732-x86-ENU.EXE"},
        {9, true, true, "WindowsServer2003-KB835732-x86-ENU.EXE"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.package, SelectPatchPackage(c.code, c.server, c.terminal)) << c.code;
    for (int code : {0, 1, 2, 4, 10, -1})
        EXPECT_EQ(nullptr, SelectPatchPackage(code, true, true)) << code;
}

TEST(PackagePlan, UrlAndTargetArePlainJoins)
{
    char target[kPathArea];
    char url[kUrlArea];
    ASSERT_TRUE(
        FormPatchPlan("C:\\Program Files\\Fix\\", "WindowsXP-KB835732-x86-ENU.EXE", target, url));
    EXPECT_STREQ("C:\\Program Files\\Fix\\WindowsXP-KB835732-x86-ENU.EXE", target);
    std::string base = PatchServerBaseUrl();
    EXPECT_EQ(0u, base.find("http://"));
    EXPECT_EQ("/patches/KB835732/", base.substr(base.size() - 18));
    EXPECT_EQ(base + "WindowsXP-KB835732-x86-ENU.EXE", std::string(url));
}

TEST(PackagePlan, TooDeepADirectoryIsReportedNotOverrun)
{
    const char* package = "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"; // 45 characters
    std::string fits = "C:\\" + std::string(259 - 45 - 4, 'd') + "\\";
    char target[kPathArea];
    char url[kUrlArea];
    ASSERT_TRUE(FormPatchPlan(fits.c_str(), package, target, url));
    EXPECT_EQ(259u, std::string(target).size());
    std::string deeper = "C:\\" + std::string(259 - 45 - 3, 'd') + "\\";
    EXPECT_FALSE(FormPatchPlan(deeper.c_str(), package, target, url));
    EXPECT_STREQ("", target);
    EXPECT_STREQ("", url);
}
