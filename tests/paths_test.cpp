// Program directory and trailing backslash; on Windows also FileExists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/paths.h"

TEST(Paths, ProgramDirectory)
{
    const struct {
        const char* path;
        const char* directory;
    } cases[] = {
        {"C:\\Program Files\\Patch\\setup.exe", "C:\\Program Files\\Patch"},
        {"\"C:\\Program Files\\Patch\\setup.exe\"", "C:\\Program Files\\Patch"},
        {"C:\\fix.exe", "C:"},
        {"\\fix.exe", ""},
        {"fix.exe", ""},
        {"C:\\dir\\", "C:\\dir"},
        {"\"", ""},
        {"C:\\a\"b\\x.exe", "C:\\a\"b"},
    };
    for (const auto& c : cases) {
        char directory[kMaxPathArea] = "stale";
        GetProgramDirectory(c.path, directory);
        EXPECT_STREQ(c.directory, directory) << c.path;
    }
}

TEST(Paths, TrailingBackslash)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"", "\\"}, {"C:\\", "C:\\"}, {"C:", "C:\\"}, {"C:\\dir", "C:\\dir\\"}};
    for (const auto& c : cases) {
        char text[kMaxPathArea];
        std::snprintf(text, sizeof text, "%s", c.in);
        EXPECT_TRUE(EnsureTrailingBackslash(text));
        EXPECT_STREQ(c.out, text) << c.in;
    }
    char full[4] = "abc";
    EXPECT_FALSE(EnsureTrailingBackslash(full));
    EXPECT_STREQ("abc", full);
}

#ifdef _WIN32
#include <windows.h>

#include "test_files.h"

TEST(Paths, FileExistsOnFilesDirectoriesAndPatterns)
{
    CreateDirectoryA("fe_dir", nullptr);
    CreateDirectoryA("fe_dir\\sub", nullptr);
    {
        ScratchFile hidden("fe_dir\\hidden.txt", "h");
        ScratchFile readOnly("fe_dir\\readonly.txt", "r");
        SetFileAttributesA(hidden.path(), FILE_ATTRIBUTE_HIDDEN);
        SetFileAttributesA(readOnly.path(), FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(FileExists(hidden.path()));
        EXPECT_TRUE(FileExists(readOnly.path()));
        EXPECT_FALSE(FileExists("fe_dir"));
        EXPECT_FALSE(FileExists("fe_dir\\missing.txt"));
        // '?' without '*': the first match decides.
        EXPECT_TRUE(FileExists("fe_dir\\hidden.tx?"));
        // '*' matching one file only: the first match is never examined.
        EXPECT_FALSE(FileExists("fe_dir\\hidden*"));
        // Two files: the second is looked at.
        EXPECT_TRUE(FileExists("fe_dir\\*.txt"));
        SetFileAttributesA(readOnly.path(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesA(hidden.path(), FILE_ATTRIBUTE_NORMAL);
    }
    RemoveDirectoryA("fe_dir\\sub");
    RemoveDirectoryA("fe_dir");
}

TEST(Paths, ProgramPathAndWindowsDirectory)
{
    char path[kMaxPathArea];
    ASSERT_TRUE(GetProgramPath(path));
    EXPECT_NE(nullptr, std::strstr(path, ".exe"));
    char windows[kMaxPathArea];
    ASSERT_TRUE(GetWindowsDirectoryPath(windows));
    EXPECT_EQ(':', windows[1]);
}
#endif
