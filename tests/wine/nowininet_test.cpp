// The download with WinINet delay-loaded. NoWinInet runs with Wine's
// wininet.dll disabled: the fetch must fail as when no internet session
// opens, leave the emptied target for the caller to judge, and never let the
// delay-load helper raise its exception. WithWinInet runs with it: the first
// calls must reach WinINet through the helper.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "check/check_report.h"
#include "download/download_engine.h"

namespace {

const char kUrl[] = "http://127.0.0.1:48080/patches/KB835732/x.EXE";

bool WinInetLoads()
{
    HMODULE wininet = LoadLibraryA("wininet.dll");
    if (!wininet)
        return false;
    FreeLibrary(wininet);
    return true;
}

int CountCall(void* instance, const char*)
{
    ++*static_cast<int*>(instance);
    return 1;
}

// A loopback port nobody listens on: one the system just handed out and
// took back.
int ClosedPort()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    bool bound = s != INVALID_SOCKET &&
                 bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
    return bound ? ntohs(address.sin_port) : 0;
}

// Puts earlier bytes into the target, which the fetch must empty first.
bool WriteOldTarget(const std::string& target)
{
    FILE* old = std::fopen(target.c_str(), "wb");
    if (!old)
        return false;
    std::fputs("bytes of an earlier download", old);
    return std::fclose(old) == 0;
}

std::string Target()
{
    char full[MAX_PATH];
    GetFullPathNameA("nowininet_x.EXE", sizeof full, full, nullptr);
    return full;
}

// -1 when the file does not exist.
long FileSize(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    std::fseek(file, 0, SEEK_END);
    long size = std::ftell(file);
    std::fclose(file);
    return size;
}

TEST(NoWinInet, TheDllCannotBeLoaded)
{
    EXPECT_FALSE(WinInetLoads()) << "run with WINEDLLOVERRIDES naming wininet=d";
}

TEST(NoWinInet, DownloadFailsAndLeavesTheTargetEmpty)
{
    ASSERT_FALSE(WinInetLoads());
    std::string target = Target();
    ASSERT_TRUE(WriteOldTarget(target));

    int calls = 0;
    PackageFacts facts = {};
    EXPECT_EQ(0, DownloadPatch(kUrl, target.c_str(), &calls, CountCall, &facts.report));
    EXPECT_EQ(0, FileSize(target));
    EXPECT_EQ(0, calls);
    facts.fileExists = FileSize(target) == 0;
    DeleteFileA(target.c_str());

    // The site check, on such a PC, names the cause.
    facts.windows = "Windows XP";
    facts.package = "x.EXE";
    char line[kCheckLineArea];
    FormatCheckLine(facts, line);
    EXPECT_NE(nullptr, std::strstr(line, "| \"unable to download\" (WinINet could not be started)"))
        << line;
}

TEST(WithWinInet, RefusedConnectionFailsAndLeavesTheTargetEmpty)
{
    ASSERT_TRUE(WinInetLoads()) << "run with Wine's wininet.dll enabled";
    int port = ClosedPort();
    ASSERT_NE(0, port);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/patches/KB835732/x.EXE";
    std::string target = Target();
    ASSERT_TRUE(WriteOldTarget(target));

    int calls = 0;
    EXPECT_EQ(0, DownloadPatch(url.c_str(), target.c_str(), &calls, CountCall));
    EXPECT_EQ(0, FileSize(target));
    EXPECT_EQ(0, calls);
    DeleteFileA(target.c_str());
}

} // namespace
