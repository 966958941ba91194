// Deferred removal the Windows 95/98/Me way: a NUL= line in WININIT.INI.
// Runs under the win98 emulation (see CMakeLists.txt); each test leaves
// no WININIT.INI behind, since Wine would act on it at its next start.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "install/file_removal.h"
#include "test_files.h"

namespace {

std::string WininitPath()
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\WININIT.INI";
}

std::string ReadWininit()
{
    std::string bytes;
    FILE* f = std::fopen(WininitPath().c_str(), "rb");
    if (!f)
        return "<missing>";
    int c;
    while ((c = std::fgetc(f)) != EOF)
        bytes += static_cast<char>(c);
    std::fclose(f);
    return bytes;
}

std::string ShortPath(const char* path)
{
    char shortPath[MAX_PATH];
    DWORD n = GetShortPathNameA(path, shortPath, sizeof shortPath);
    return n ? shortPath : path;
}

class Wininit : public ::testing::Test {
protected:
    void SetUp() override
    {
        OSVERSIONINFOA version;
        version.dwOSVersionInfoSize = sizeof version;
        GetVersionExA(&version);
        if (version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS)
            GTEST_SKIP() << "needs a Windows 9x emulation";
        DeleteFileA(WininitPath().c_str());
        GetFullPathNameA("held package.exe", sizeof package_, package_, nullptr);
        file_ = new ScratchFile(package_, "package");
        held_ = CreateFileA(package_, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
    }
    void TearDown() override
    {
        if (held_ != INVALID_HANDLE_VALUE)
            CloseHandle(held_);
        delete file_;
        DeleteFileA(WininitPath().c_str());
        RemoveDirectoryA(WininitPath().c_str());
    }
    bool Remove()
    {
        deferred_ = false;
        return RemoveDownloadedFile(package_, error_, deferred_);
    }

    char package_[MAX_PATH] = "";
    ScratchFile* file_ = nullptr;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    char error_[kRemovalErrorArea] = "";
    bool deferred_ = false;
};

} // namespace

TEST_F(Wininit, CreatedWithTheSectionAndTheShortPath)
{
    ASSERT_NE(INVALID_HANDLE_VALUE, held_);
    EXPECT_TRUE(Remove());
    EXPECT_TRUE(deferred_);
    EXPECT_STREQ("", error_);
    EXPECT_EQ("[rename]\r\nNUL=" + ShortPath(package_) + "\r\n", ReadWininit());
}

TEST_F(Wininit, AppendedAtTheVeryEnd)
{
    ScratchFile wininit(WininitPath(), "[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\n");
    EXPECT_TRUE(Remove());
    EXPECT_EQ("[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\nNUL=" + ShortPath(package_) + "\r\n",
              ReadWininit());
}

TEST_F(Wininit, LastLineWithoutABreakKeepsTheNewLineApart)
{
    ScratchFile wininit(WininitPath(), "[rename]\r\nNUL=C:\\OLD.EXE");
    EXPECT_TRUE(Remove());
    EXPECT_EQ("[rename]\r\nNUL=C:\\OLD.EXE\r\nNUL=" + ShortPath(package_) + "\r\n", ReadWininit());
}

TEST_F(Wininit, DirectoryInItsPlaceCannotBeCreated)
{
    ASSERT_TRUE(CreateDirectoryA(WininitPath().c_str(), nullptr));
    EXPECT_FALSE(Remove());
    EXPECT_FALSE(deferred_);
    EXPECT_EQ("Unable to write to file: " + WininitPath() + " to WININT.INI", std::string(error_));
}
