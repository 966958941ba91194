// Running the package and removing it afterwards, with Wine's own
// CreateProcess, file sharing and delayed-deletion records.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "install/file_removal.h"
#include "install/installer_launch.h"
#include "install/package_digest.h"
#include "install/paths.h"
#include "test_files.h"

namespace {

// The stand-in package is built beside this test program.
std::string StandInCopy(const char* name)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string directory(self, std::strrchr(self, '\\') + 1);
    std::string copy = directory + name;
    CopyFileA((directory + "standin_package.exe").c_str(), copy.c_str(), FALSE);
    DeleteFileA((copy + ".ran.txt").c_str());
    return copy;
}

std::string RunRecord(const std::string& package)
{
    FILE* f = std::fopen((package + ".ran.txt").c_str(), "rb");
    if (!f)
        return "";
    char line[2048] = "";
    std::fgets(line, sizeof line, f);
    std::fclose(f);
    return line;
}

} // namespace

TEST(LaunchInstaller, WaitsForThePackageAndPassesNoArguments)
{
    std::string package = StandInCopy("launch-wait.exe");
    SetEnvironmentVariableA("STANDIN_RUN_MS", "2000");
    char error[kLaunchErrorArea] = "stale";
    DWORD start = GetTickCount();
    EXPECT_TRUE(LaunchInstaller(package.c_str(), true, error));
    EXPECT_GE(GetTickCount() - start, 1900u);
    EXPECT_STREQ("", error);
    std::string record = RunRecord(package);
    EXPECT_EQ(0u, record.find("argc=1|cmdline=\"" + package + "\"|")) << record;
    SetEnvironmentVariableA("STANDIN_RUN_MS", nullptr);
    DeleteFileA(package.c_str());
    DeleteFileA((package + ".ran.txt").c_str());
}

TEST(LaunchInstaller, WithoutTheWaitFlagReturnsAtOnce)
{
    std::string package = StandInCopy("launch-nowait.exe");
    SetEnvironmentVariableA("STANDIN_RUN_MS", "3000");
    char error[kLaunchErrorArea];
    DWORD start = GetTickCount();
    EXPECT_TRUE(LaunchInstaller(package.c_str(), false, error));
    EXPECT_LT(GetTickCount() - start, 2500u);
    SetEnvironmentVariableA("STANDIN_RUN_MS", nullptr);
    Sleep(3500);
    DeleteFileA(package.c_str());
    DeleteFileA((package + ".ran.txt").c_str());
}

TEST(LaunchInstaller, MissingPackageExplainsWithTheSystemText)
{
    char error[kLaunchErrorArea];
    const char* path = "C:\\no\\such\\package.exe";
    EXPECT_FALSE(LaunchInstaller(path, true, error));
    SetLastError(ERROR_PATH_NOT_FOUND);
    char expected[kSystemTextArea];
    char system[kSystemTextArea];
    FormatLastError(system);
    std::snprintf(expected, sizeof expected, "Unable to run the program: %s Error Message: ", path);
    std::string text(error);
    EXPECT_EQ(0u, text.find(expected)) << text;
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
    EXPECT_GT(text.size(), std::strlen(expected));
}

TEST(FormatLastError, CodeWithoutSystemTextGivesTheDecimalCode)
{
    char text[kSystemTextArea];
    SetLastError(0x20001234);
    FormatLastError(text);
    EXPECT_STREQ("536875572", text);
}

TEST(RemoveDownloadedFile, ReadOnlyFileIsDeletedAtOnce)
{
    ScratchFile file("remove-readonly.exe", "package");
    SetFileAttributesA(file.path(), FILE_ATTRIBUTE_READONLY);
    char error[kRemovalErrorArea] = "stale";
    bool deferred = true;
    EXPECT_TRUE(RemoveDownloadedFile(file.path(), error, deferred));
    EXPECT_FALSE(deferred);
    EXPECT_STREQ("", error);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file.path()));
}

TEST(RemoveDownloadedFile, FileHeldOpenIsDeferredOnNt)
{
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        GTEST_SKIP() << "the NT way needs an NT emulation";
    char full[MAX_PATH];
    GetFullPathNameA("remove-held.exe", sizeof full, full, nullptr);
    ScratchFile file(full, "package");
    HANDLE held = CreateFileA(full, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    char error[kRemovalErrorArea];
    bool deferred = false;
    EXPECT_TRUE(RemoveDownloadedFile(full, error, deferred));
    EXPECT_TRUE(deferred);
    EXPECT_STREQ("", error);
    CloseHandle(held);
    // Wine keeps delay-until-reboot deletions where Windows does.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           "System\\CurrentControlSet\\Control\\Session Manager", 0,
                                           KEY_QUERY_VALUE, &key));
    static char operations[65536];
    DWORD size = sizeof operations;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                                   reinterpret_cast<BYTE*>(operations), &size);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, status);
    // Pairs of source and target; an empty target means: delete. Empty
    // strings stand inside the list, so it is walked by its size.
    bool found = false;
    const char* end = operations + size;
    for (const char* s = operations; s < end && s + std::strlen(s) + 1 < end;) {
        std::string source(s);
        s += source.size() + 1;
        std::string target(s);
        s += target.size() + 1;
        if (source.size() >= 15 && source.compare(source.size() - 15, 15, "remove-held.exe") == 0) {
            found = true;
            EXPECT_EQ("", target);
        }
    }
    EXPECT_TRUE(found);
}

TEST(StandInPackage, PaddedCopyStillRunsAndItsHolderBlocksDeletion)
{
    std::string package = StandInCopy("standin-held.exe");
    {
        FILE* f = std::fopen(package.c_str(), "ab");
        ASSERT_NE(nullptr, f);
        std::string padding(50000, '\0');
        std::fwrite(padding.data(), 1, padding.size(), f);
        std::fclose(f);
    }
    SetEnvironmentVariableA("STANDIN_HOLD_MS", "4000");
    char error[kLaunchErrorArea];
    EXPECT_TRUE(LaunchInstaller(package.c_str(), true, error));
    SetEnvironmentVariableA("STANDIN_HOLD_MS", nullptr);
    EXPECT_EQ(0u, RunRecord(package).find("argc=1|"));
    // The package has ended, but its child still holds the file; it lets go
    // after 4 s, whenever it gets to run again.
    EXPECT_FALSE(DeleteFileA(package.c_str()));
    bool deleted = false;
    for (int i = 0; i < 600 && !deleted; ++i) {
        Sleep(100);
        deleted = DeleteFileA(package.c_str()) != 0;
    }
    EXPECT_TRUE(deleted);
    DeleteFileA((package + ".ran.txt").c_str());
}

// From its checks until the package has ended (on NT, as this suite runs),
// nobody may change, rename, replace or delete the package file; others, the
// package among them, may still read it, and the held file is what runs.
TEST(HoldPackageFile, NoWriterChangesTheFileFromTheChecksUntilThePackageHasEnded)
{
    std::string package = StandInCopy("held-package.exe");
    std::string other = StandInCopy("held-other.exe");
    HANDLE held = HoldPackageFile(package.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    const struct {
        const char* what;
        DWORD access;
        DWORD share;
        DWORD disposition;
    } opens[] = {
        {"open for writing", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         OPEN_EXISTING},
        {"overwrite", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         CREATE_ALWAYS},
        {"truncate", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         TRUNCATE_EXISTING},
        {"open for deleting", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         OPEN_EXISTING},
    };
    for (const auto& o : opens) {
        HANDLE h = CreateFileA(package.c_str(), o.access, o.share, nullptr, o.disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, h) << o.what;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    EXPECT_FALSE(DeleteFileA(package.c_str())) << "delete";
    EXPECT_FALSE(MoveFileA(package.c_str(), (package + ".moved").c_str())) << "rename";
    EXPECT_FALSE(MoveFileExA(other.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING))
        << "replace by renaming another file over it";
    EXPECT_FALSE(CopyFileA(other.c_str(), package.c_str(), FALSE)) << "copy another file over it";

    HANDLE reader = CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader) << "others may read it";
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);

    // The digest through the held handle is the file's, read from its start
    // however often it is asked.
    char held1[65];
    char held2[65];
    char byPath[65];
    ASSERT_TRUE(DigestHeldFile(held, held1));
    ASSERT_TRUE(DigestHeldFile(held, held2));
    ASSERT_TRUE(DigestFile(package.c_str(), byPath));
    EXPECT_STREQ(byPath, held1);
    EXPECT_STREQ(byPath, held2);

    unsigned long size = 0;
    ASSERT_TRUE(GetHeldFileSize(held, size));
    char error[kLaunchErrorArea];
    EXPECT_TRUE(LaunchInstaller(package.c_str(), true, error, held)); // and closes it
    std::string record = RunRecord(package);
    EXPECT_EQ(0u, record.find("argc=1|")) << record;
    // What the package itself found while it ran.
    EXPECT_NE(std::string::npos,
              record.find("|read=" + std::to_string(size) + "|write=refused|rename=refused"))
        << record;
    EXPECT_TRUE(DeleteFileA(package.c_str())) << "let go once the package has ended";
    DeleteFileA((package + ".ran.txt").c_str());
    DeleteFileA(other.c_str());
    DeleteFileA((package + ".moved").c_str());
}

// A file the download could not have written is not the download's: one
// that is read-only, or held by another program that lets nobody write it,
// is never taken for the package.
TEST(HoldPackageFile, RefusesAFileThisRunCouldNotHaveWritten)
{
    std::string package = StandInCopy("held-foreign.exe");
    SetFileAttributesA(package.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE readOnly = HoldPackageFile(package.c_str());
    EXPECT_EQ(INVALID_HANDLE_VALUE, readOnly) << "read-only";
    if (readOnly != INVALID_HANDLE_VALUE)
        CloseHandle(readOnly);
    SetFileAttributesA(package.c_str(), FILE_ATTRIBUTE_NORMAL);

    HANDLE other = CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_EQ(INVALID_HANDLE_VALUE, HoldPackageFile(package.c_str()))
        << "held by another without write sharing";
    CloseHandle(other);

    HANDLE held = HoldPackageFile(package.c_str());
    EXPECT_NE(INVALID_HANDLE_VALUE, held) << "its own again once let go";
    unsigned long size = 0;
    EXPECT_TRUE(GetHeldFileSize(held, size));
    EXPECT_GT(size, 0ul);
    CloseHandle(held);
    DeleteFileA(package.c_str());
    EXPECT_EQ(INVALID_HANDLE_VALUE, HoldPackageFile(package.c_str())) << "missing";
}

// With the held file, a launch that fails still lets it go.
TEST(LaunchInstaller, FailedLaunchLetsTheHeldFileGo)
{
    char full[MAX_PATH];
    GetFullPathNameA("not-a-program.exe", sizeof full, full, nullptr);
    ScratchFile file(full, std::string(2000, 'x'));
    HANDLE held = HoldPackageFile(full);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    char error[kLaunchErrorArea];
    EXPECT_FALSE(LaunchInstaller(full, true, error, held));
    EXPECT_EQ(0u, std::string(error).find(std::string("Unable to run the program: ") + full +
                                          " Error Message: "))
        << error;
    EXPECT_TRUE(DeleteFileA(full));
}
