// The live queries on whatever Windows Wine is emulating. ctest runs this
// suite once per emulated version, naming it in PATCHER_WINE_VERSION; the
// NT 4.0 flavours and the installed-update markers are set up in the
// prefix's own registry and judged by a child process, because Windows
// reads the product type when a process starts.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "inspect/install_language.h"
#include "inspect/package_plan.h"
#include "inspect/registry_probes.h"
#include "inspect/windows_version.h"

namespace {

struct EmulatedWindows {
    const char* name; // as winecfg -v takes it
    int code;
    const char* description;
    const char* package; // nullptr: the update does not apply
};

// What Wine 8 reports for each version it emulates (service-pack texts and
// build fields are Wine's own), and what the program must make of it.
const EmulatedWindows kEmulated[] = {
    {"win31", 1, "Windows 32s on Windows 3.1  Win32s 1.3 Ver 3.10 (0)", nullptr},
    {"win95", 2, "Windows 95   Ver 4.0 (67109814)", nullptr},
    {"win98", 3, "Windows 98   A  Ver 4.10 (67766446)", "828028USA8.EXE"},
    {"winme", 6, "Windows ME    Ver 4.90 (73010104)", "828028USAM.EXE"},
    {"nt351", 4, "Windows NT  Service Pack 5 Ver 3.51 (1057)", nullptr},
    {"nt40", 5, "Windows NT  Service Pack 6a Ver 4.0 (1381)",
     "WindowsNT4Workstation-KB835732-x86-ENU.EXE"},
    {"win2k", 7, "Windows 2000  Service Pack 4 Ver 5.0 (2195)", "Windows2000-KB835732-x86-ENU.EXE"},
    {"winxp", 8, "Windows XP  Service Pack 3 Ver 5.1 (2600)", "WindowsXP-KB835732-x86-ENU.EXE"},
    {"win2003", 9, "Windows Server 2003  Service Pack 2 Ver 5.2 (3790)",
     "WindowsServer2003-KB835732-x86-ENU.EXE"},
};

const char kProductOptions[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

std::string Environment(const char* name)
{
    char value[256];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return (n > 0 && n < sizeof value) ? std::string(value, n) : std::string();
}

// Runs this test program again with one test selected and the given
// variables in its environment; its exit code (0 when the test passed).
DWORD RunChildTest(const char* filter, const char* expectation)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self + "\" --gtest_filter=" + filter;
    SetEnvironmentVariableA("PATCHER_CHILD_EXPECTS", expectation);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string line = command;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        SetEnvironmentVariableA("PATCHER_CHILD_EXPECTS", nullptr);
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    SetEnvironmentVariableA("PATCHER_CHILD_EXPECTS", nullptr);
    return code;
}

// A registry value (of the product options key unless told), saved on
// construction and put back (or removed again) on destruction, so that the
// prefix is left as found.
class SavedValue {
public:
    explicit SavedValue(const char* name, HKEY root = HKEY_LOCAL_MACHINE,
                        const char* path = kProductOptions)
        : name_(name), root_(root), path_(path)
    {
        HKEY key;
        if (RegOpenKeyExA(root_, path_, 0, KEY_QUERY_VALUE, &key) != 0)
            return;
        size_ = sizeof data_;
        had_ = RegQueryValueExA(key, name_, nullptr, &type_, data_, &size_) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~SavedValue()
    {
        if (had_)
            Set(type_, data_, size_);
        else
            Remove();
    }
    void Set(DWORD type, const void* data, DWORD size) const
    {
        HKEY key;
        if (RegCreateKeyExA(root_, path_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return;
        RegSetValueExA(key, name_, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    void Remove() const
    {
        HKEY key;
        if (RegOpenKeyExA(root_, path_, 0, KEY_SET_VALUE, &key) != 0)
            return;
        RegDeleteValueA(key, name_);
        RegCloseKey(key);
    }

private:
    const char* name_;
    HKEY root_;
    const char* path_;
    bool had_ = false;
    DWORD type_ = 0;
    BYTE data_[1024];
    DWORD size_ = 0;
};

} // namespace

TEST(LiveWindows, ClassifiesTheEmulatedVersionAndChoosesItsPackage)
{
    std::string emulated = Environment("PATCHER_WINE_VERSION");
    if (emulated.empty())
        GTEST_SKIP() << "PATCHER_WINE_VERSION names no emulated version";
    const EmulatedWindows* expected = nullptr;
    for (const EmulatedWindows& e : kEmulated)
        if (emulated == e.name)
            expected = &e;
    ASSERT_NE(nullptr, expected) << "no expectation for " << emulated;

    char description[kVersionTextArea] = "stale";
    EXPECT_EQ(expected->code, ClassifyWindowsVersion(description));
    EXPECT_STREQ(expected->description, description);
    const char* package = ChoosePatchPackage(expected->code);
    EXPECT_STREQ(expected->package ? expected->package : "(none)", package ? package : "(none)");
    // The removal's choice of the NT or the 9x way rests on this.
    OSVERSIONINFOA record = GetOsVersionInfo();
    EXPECT_EQ(sizeof(OSVERSIONINFOA), record.dwOSVersionInfoSize);
}

// Child side of the flavour test: the package the live choice makes now.
TEST(LiveWindowsChild, ChoosesTheExpectedPackage)
{
    std::string expected = Environment("PATCHER_CHILD_EXPECTS");
    if (expected.empty())
        GTEST_SKIP() << "only run as a child of the flavour test";
    char description[kVersionTextArea];
    EXPECT_STREQ(expected.c_str(), ChoosePatchPackage(ClassifyWindowsVersion(description)));
}

TEST(LiveWindows, EachNt4FlavourChoosesItsPackage)
{
    if (Environment("PATCHER_WINE_VERSION") != "nt40")
        GTEST_SKIP() << "needs the nt40 emulation";
    SavedValue productType("ProductType");
    SavedValue productSuite("ProductSuite");

    struct Flavour {
        const char* productType;
        const char* suite; // REG_MULTI_SZ with its final NUL pair; nullptr: no value
        DWORD suiteSize;
        const char* package;
    };
    const char first[] = "Terminal Server\0";
    const char lower[] = "terminal server\0Small Business\0";
    const char second[] = "Small Business\0terminal server\0";
    const char other[] = "Small Business\0Enterprise\0";
    const Flavour flavours[] = {
        {"WinNT", nullptr, 0, "WindowsNT4Workstation-KB835732-x86-ENU.EXE"},
        // A workstation never asks for the suite.
        {"WinNT", first, sizeof first, "WindowsNT4Workstation-KB835732-x86-ENU.EXE"},
        {"ServerNT", nullptr, 0, "WindowsNT4Server-KB835732-x86-ENU.EXE"},
        {"ServerNT", other, sizeof other, "WindowsNT4Server-KB835732-x86-ENU.EXE"},
        {"ServerNT", first, sizeof first, "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"},
        {"ServerNT", lower, sizeof lower, "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"},
        // Only the first string of the list is read.
        {"ServerNT", second, sizeof second, "WindowsNT4Server-KB835732-x86-ENU.EXE"},
        // A domain controller is an NT server: the workstation package's
        // installer cannot update it.
        {"LanmanNT", nullptr, 0, "WindowsNT4Server-KB835732-x86-ENU.EXE"},
        {"LanmanNT", first, sizeof first, "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"},
    };
    for (const Flavour& f : flavours) {
        productType.Set(REG_SZ, f.productType, static_cast<DWORD>(std::strlen(f.productType) + 1));
        if (f.suite)
            productSuite.Set(REG_MULTI_SZ, f.suite, f.suiteSize);
        else
            productSuite.Remove();
        EXPECT_EQ(0u, RunChildTest("LiveWindowsChild.ChoosesTheExpectedPackage", f.package))
            << f.productType << (f.suite ? std::string(" / ") + f.suite : std::string());
    }
}

// The product type Wine reports follows the ProductType value, read when a
// process starts: a domain controller reads back as such, and the program
// takes it for a server as it does a server.
TEST(LiveWindowsChild, ReportsTheExpectedProductType)
{
    std::string expected = Environment("PATCHER_CHILD_EXPECTS");
    if (expected.empty())
        GTEST_SKIP() << "only run as a child of the product type test";
    OSVERSIONINFOEXA record;
    std::memset(&record, 0, sizeof record);
    record.dwOSVersionInfoSize = sizeof record;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record)));
    EXPECT_EQ(std::atoi(expected.c_str()), record.wProductType);
    EXPECT_EQ(std::atoi(expected.c_str()), ReadNtProductType());
    EXPECT_EQ(expected == "3" || expected == "2", IsNtServerProduct());
}

TEST(LiveWindows, WineTakesTheProductTypeFromTheRegistry)
{
    if (Environment("PATCHER_WINE_VERSION") != "nt40")
        GTEST_SKIP() << "needs the nt40 emulation";
    SavedValue productType("ProductType");
    const struct {
        const char* value;
        const char* productType; // VER_NT_WORKSTATION 1, DOMAIN_CONTROLLER 2, SERVER 3
    } cases[] = {{"WinNT", "1"}, {"LanmanNT", "2"}, {"ServerNT", "3"}, {"servernt", "3"}};
    for (const auto& c : cases) {
        productType.Set(REG_SZ, c.value, static_cast<DWORD>(std::strlen(c.value) + 1));
        EXPECT_EQ(0u, RunChildTest("LiveWindowsChild.ReportsTheExpectedProductType", c.productType))
            << c.value;
    }
}

TEST(LiveWindows, TerminalServerNeedsTheSuiteValueAndKey)
{
    SavedValue productSuite("ProductSuite");
    productSuite.Remove();
    EXPECT_FALSE(IsTerminalServer());
    const char suites[] = "TERMINAL SERVER\0";
    productSuite.Set(REG_MULTI_SZ, suites, sizeof suites);
    EXPECT_TRUE(IsTerminalServer());

    // Without the product options key at all (put back by the savers).
    SavedValue productType("ProductType");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductOptions));
    EXPECT_FALSE(IsTerminalServer());
}

TEST(LiveWindows, MarkersAloneAndTogetherAreFoundInTableOrder)
{
    bool existed[kInstalledUpdateMarkerCount];
    for (int i = 0; i < kInstalledUpdateMarkerCount; ++i)
        existed[i] = IsRegistryKeyPresent(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i]);
    for (int i = 0; i < kInstalledUpdateMarkerCount; ++i)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i]);

    for (int set = 0; set < (1 << kInstalledUpdateMarkerCount); ++set) {
        int first = 0;
        for (int i = kInstalledUpdateMarkerCount - 1; i >= 0; --i) {
            if (set & (1 << i)) {
                // An empty key: only its presence counts.
                HKEY key;
                ASSERT_EQ(ERROR_SUCCESS,
                          RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i], 0,
                                          nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
                RegCloseKey(key);
                first = i + 1;
            } else {
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i]);
            }
        }
        EXPECT_EQ(first, FindInstalledUpdateMarker()) << "marker set " << set;
    }

    for (int i = 0; i < kInstalledUpdateMarkerCount; ++i) {
        if (existed[i]) {
            HKEY key;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i], 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS)
                RegCloseKey(key);
        } else {
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i]);
        }
    }
}

// Where each Windows keeps the language it was installed in: 2000 and later
// tell it (GetSystemDefaultUILanguage; Wine answers from the Unix locale),
// NT 4.0 keeps it as setup wrote it, 95 to Me as the language of their own
// resources. Each planted where the other looks must not count.
TEST(LiveWindows, InstallLanguageIsReadWhereThisWindowsKeepsIt)
{
    std::string emulated = Environment("PATCHER_WINE_VERSION");
    if (emulated.empty())
        GTEST_SKIP() << "PATCHER_WINE_VERSION names no emulated version";
    SavedValue nt("InstallLanguage", HKEY_LOCAL_MACHINE,
                  "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language");
    SavedValue nine("ResourceLocale", HKEY_CURRENT_USER, "Control Panel\\Desktop");
    nt.Set(REG_SZ, "0413", 5);       // Dutch
    nine.Set(REG_SZ, "00000416", 9); // Portuguese (Brazil)
    typedef LANGID(WINAPI * Query)();
    FARPROC told = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemDefaultUILanguage");
    ASSERT_NE(nullptr, told);
    unsigned expected = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(told))();
    if (emulated == "nt351" || emulated == "nt40")
        expected = 0x0413;
    else if (emulated == "win31" || emulated == "win95" || emulated == "win98" ||
             emulated == "winme")
        expected = 0x0416;
    EXPECT_EQ(expected, GetInstallLanguage());

    // Wine's abbreviations, mended where the packages differ.
    for (const auto& [id, asked] : {std::pair<unsigned, const char*>{0x0407, "DEU"},
                                    {0x040A, "ESN"},
                                    {0x0804, "CHS"},
                                    {0x0809, "ENU"}}) {
        char code[kLanguageCodeArea];
        EXPECT_TRUE(GetPackageLanguage(id, code));
        EXPECT_STREQ(asked, code) << id;
    }
}
