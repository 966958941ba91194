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

// Where Windows refuses the extended version record (NT 4.0 before Service
// Pack 6), the product type is the word setup wrote: WinNT, LanmanNT or
// ServerNT. Anything else, or nothing, is no type at all.
TEST_F(RegistryProbes, ProductTypeFromTheRegistryWord)
{
    const struct {
        const char* data;
        DWORD size; // as stored: some without their terminator
        int type;
    } cases[] = {
        {"WinNT", 6, kNtWorkstation},
        {"LanmanNT", 9, kNtDomainController},
        {"ServerNT", 9, kNtServer},
        {"servernt", 9, kNtServer},
        {"ServerNT", 8, kNtServer}, // not terminated: ends with its data
        {"ServerNTX", 9, 0},        // not terminated, and another word
        {"ServerNT ", 10, 0},
        {"Server", 7, 0},
        {"", 1, 0},
        {"", 0, 0},
        {"Enterprise", 11, 0},
    };
    for (const auto& c : cases) {
        SetValue("ProductType", REG_SZ, c.data, c.size);
        EXPECT_EQ(c.type, ReadRegistryProductType(HKEY_CURRENT_USER, kScratch))
            << "'" << c.data << "' in " << c.size << " bytes";
    }
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_SET_VALUE, &key));
    RegDeleteValueA(key, "ProductType");
    RegCloseKey(key);
    EXPECT_EQ(0, ReadRegistryProductType(HKEY_CURRENT_USER, kScratch)) << "no value";
    RegDeleteKeyA(HKEY_CURRENT_USER, kScratch);
    EXPECT_EQ(0, ReadRegistryProductType(HKEY_CURRENT_USER, kScratch)) << "no key";
    // A word longer than any known, stored whole, is read whole, not cut
    // into a known one.
    char padded[80];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, "ServerNT", 8);
    SetValue("ProductType", REG_SZ, padded, sizeof padded);
    EXPECT_EQ(0, ReadRegistryProductType(HKEY_CURRENT_USER, kScratch));
}

// The record's answer where Windows gave one; the registry's where the
// record was refused (type 0). Wine fills the record on every version, so
// the refused record is played by handing 0 in.
TEST_F(RegistryProbes, RefusedVersionRecordFallsBackToTheRegistry)
{
    SetValue("ProductType", REG_SZ, "ServerNT", 9);
    EXPECT_EQ(kNtServer, ChooseNtProductType(0, HKEY_CURRENT_USER, kScratch));
    EXPECT_EQ(kNtWorkstation, ChooseNtProductType(kNtWorkstation, HKEY_CURRENT_USER, kScratch));
    EXPECT_EQ(kNtDomainController,
              ChooseNtProductType(kNtDomainController, HKEY_CURRENT_USER, kScratch));
    SetValue("ProductType", REG_SZ, "WinNT", 6);
    EXPECT_EQ(kNtWorkstation, ChooseNtProductType(0, HKEY_CURRENT_USER, kScratch));
    SetValue("ProductType", REG_SZ, "LanmanNT", 9);
    EXPECT_EQ(kNtDomainController, ChooseNtProductType(0, HKEY_CURRENT_USER, kScratch));
    EXPECT_EQ(kNtServer, ChooseNtProductType(kNtServer, HKEY_CURRENT_USER, kScratch));
    RegDeleteKeyA(HKEY_CURRENT_USER, kScratch);
    EXPECT_EQ(0, ChooseNtProductType(0, HKEY_CURRENT_USER, kScratch));
}
