// Which package each Windows gets, and where it comes from and goes.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "inspect/install_language.h"
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

TEST(PackagePlan, LanguageCodeIsWindowsAbbreviationMendedForPackages)
{
    const struct {
        unsigned languageId;
        const char* abbreviation; // as GetLocaleInfoA gives it
        const char* code;         // "" for none; ARA to DE[: the edges of A to Z
    } cases[] = {
        {0x0407, "DEU", "DEU"}, {0x0411, "JPN", "JPN"}, {0x0C0A, "ESN", "ESN"},
        {0x040A, "ESP", "ESN"}, {0x0814, "NON", "NOR"}, {0x0409, "ENU", "ENU"},
        {0x0809, "ENG", "ENU"}, {0x0C09, "ENA", "ENU"}, {0x0000, "", ""},
        {0x0407, "De", ""},     {0x0407, "DEUT", ""},   {0x0407, "D/U", ""},
        {0x0401, "ARA", "ARA"}, {0x042C, "AZE", "AZE"}, {0x0407, "@EU", ""},
        {0x0407, "DE[", ""},
    };
    for (const auto& c : cases) {
        char code[kLanguageCodeArea] = "XX";
        EXPECT_EQ(c.code[0] != '\0', ChoosePackageLanguage(c.languageId, c.abbreviation, code));
        EXPECT_STREQ(c.code, code) << c.languageId << " " << c.abbreviation;
    }
    for (const auto& [text, id] : {std::pair<const char*, unsigned>{"0407", 0x0407},
                                   {"00000407", 0x0407},
                                   {"00010411", 0x0411},
                                   {"0c0A", 0x0C0A},
                                   {"407", 0},
                                   {"004070", 0},
                                   {"000004070", 0},
                                   {"04x7", 0},
                                   {"", 0}})
        EXPECT_EQ(id, ParseLanguageId(text)) << text;
}

TEST(PackagePlan, LanguagePackageOnlyWhenTheReleaseHoldsIt)
{
    const std::string digest(64, 'a');
    const std::string pins = "WindowsXP-KB835732-x86-ENU.EXE=" + digest +
                             ";WindowsXP-KB835732-x86-DEU.EXE=" + digest +
                             ";828028DEU8.EXE=" + digest;
    const struct {
        const char* english;
        const char* code;
        const char* pins;
        const char* asked;
    } cases[] = {
        {"WindowsXP-KB835732-x86-ENU.EXE", "DEU", pins.c_str(), "WindowsXP-KB835732-x86-DEU.EXE"},
        {"WindowsXP-KB835732-x86-ENU.EXE", "FRA", pins.c_str(), "WindowsXP-KB835732-x86-ENU.EXE"},
        {"Windows2000-KB835732-x86-ENU.EXE", "DEU", pins.c_str(),
         "Windows2000-KB835732-x86-ENU.EXE"},
        {"WindowsXP-KB835732-x86-ENU.EXE", "DEU", "", "WindowsXP-KB835732-x86-ENU.EXE"},
        {"WindowsXP-KB835732-x86-ENU.EXE", "ENU", pins.c_str(), "WindowsXP-KB835732-x86-ENU.EXE"},
        // Unchecked text never makes a name; 98 and Me keep theirs.
        {"WindowsXP-KB835732-x86-ENU.EXE", "deu", pins.c_str(), "WindowsXP-KB835732-x86-ENU.EXE"},
        {"WindowsXP-KB835732-x86-ENU.EXE", "DEU.", pins.c_str(), "WindowsXP-KB835732-x86-ENU.EXE"},
        {"828028USA8.EXE", "DEU", pins.c_str(), "828028USA8.EXE"},
    };
    for (const auto& c : cases) {
        char name[kPathArea];
        EXPECT_STREQ(c.asked, NameLanguagePackage(c.english, c.code, c.pins, name))
            << c.english << " " << c.code;
    }
}

TEST(PackagePlan, PinnedNameTellsItsLanguageWhateverItsCase)
{
    const char* xp = "WindowsXP-KB835732-x86-ENU.EXE";
    char code[kLanguageCodeArea];
    EXPECT_TRUE(ReadNameLanguage(xp, "windowsxp-kb835732-x86-deu.exe", code));
    EXPECT_STREQ("DEU", code);
    for (const char* other :
         {xp, "Windows2000-KB835732-x86-DEU.EXE", "WindowsXP-KB835732-x86-D1U.EXE"})
        EXPECT_FALSE(ReadNameLanguage(xp, other, code)) << other;
    EXPECT_FALSE(ReadNameLanguage("828028USA8.EXE", "828028DEU8.EXE", code));
}
