// Registry probes against the prefix's real registry. Keys are made under
// HKEY_CURRENT_USER so that the installed-update markers of the machine
// itself are left alone; the probes take any root.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "inspect/registry_probes.h"

namespace {

const char kScratch[] = "Software\\PatcherTests";

void SetValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

class RegistryProbes : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteKeyA(HKEY_CURRENT_USER, kScratch); }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kScratch); }
};

} // namespace

TEST_F(RegistryProbes, EmptyKeyCountsAsPresent)
{
    EXPECT_FALSE(IsRegistryKeyPresent(HKEY_CURRENT_USER, kScratch));
    SetValue("x", REG_SZ, "", 1);
    RegDeleteValueA(HKEY_CURRENT_USER, "x");
    EXPECT_TRUE(IsRegistryKeyPresent(HKEY_CURRENT_USER, kScratch));
}

TEST_F(RegistryProbes, ReadsTheFirstStringOfAList)
{
    const char suites[] = "Small Business\0Terminal Server\0";
    SetValue("Suite", REG_MULTI_SZ, suites, sizeof suites);
    char text[255] = "stale";
    EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kScratch, "Suite", text));
    EXPECT_STREQ("Small Business", text);
}

TEST_F(RegistryProbes, LongStringIsCutAndUnterminatedDataEndsWithTheData)
{
    char big[600];
    std::memset(big, 'v', sizeof big);
    big[sizeof big - 1] = '\0';
    SetValue("Big", REG_SZ, big, sizeof big);
    char small[16];
    EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kScratch, "Big", small));
    EXPECT_EQ(15u, std::strlen(small));

    SetValue("Raw", REG_BINARY, "abc", 3);
    char text[16];
    EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kScratch, "Raw", text));
    EXPECT_STREQ("abc", text);
}

TEST_F(RegistryProbes, MissingValueOrKeyGivesEmptyText)
{
    char text[16] = "stale";
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kScratch, "None", text));
    EXPECT_STREQ("", text);
    SetValue("Other", REG_SZ, "x", 2);
    std::strcpy(text, "stale");
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kScratch, "None", text));
    EXPECT_STREQ("", text);
}

TEST_F(RegistryProbes, ValueLargerThan4096BytesIsNotRead)
{
    static char huge[5000];
    std::memset(huge, 'h', sizeof huge);
    huge[sizeof huge - 1] = '\0';
    SetValue("Huge", REG_SZ, huge, sizeof huge);
    char text[16] = "stale";
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kScratch, "Huge", text));
    EXPECT_STREQ("", text);
}

TEST(InstalledUpdateMarkers, TableOrder)
{
    EXPECT_STREQ("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KB835732",
                 kInstalledUpdateMarkers[0]);
    EXPECT_STREQ("Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\Updates\\WinME\\UPD828028",
                 kInstalledUpdateMarkers[1]);
    EXPECT_STREQ("Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\Updates\\W98\\UPDQ828028",
                 kInstalledUpdateMarkers[2]);
}
