// The download against the simulated site (tests/site), through Wine's own
// WinINet over real loopback sockets: HTTP to the patch server, HTTPS to the
// sign-in service (its test CA is in the prefix's Root store).
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download/download_engine.h"
#include "inspect/package_plan.h"
#include "site_settings.h"
#include "test_files.h"

namespace {

const char kPackage[] = "WindowsXP-KB835732-x86-ENU.EXE";

std::string Fetch(const std::string& url)
{
    std::string body;
    HINTERNET session = InternetOpenA("tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = session ? InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                                   INTERNET_FLAG_RELOAD, 0)
                                : nullptr;
    char buffer[4096];
    DWORD got = 0;
    while (request && InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0)
        body.append(buffer, got);
    if (request)
        InternetCloseHandle(request);
    if (session)
        InternetCloseHandle(session);
    return body;
}

// "http://host:port" of the patch server.
std::string Origin()
{
    std::string base = PatchServerBaseUrl();
    return base.substr(0, base.find("/patches/"));
}

std::string Control(const std::string& query)
{
    return Fetch(Origin() + "/_control/" + query);
}

void Scenario(const std::string& query)
{
    ASSERT_EQ("ok\n", Control("scenario?" + query));
}

// What the site sends as a package of `size` bytes.
std::string PackageBytes(size_t size)
{
    std::string unit("MZ\x90\0", 4);
    for (int r = 0; r < 4; ++r)
        for (int b = 0; b < 256; ++b)
            unit += static_cast<char>(b);
    std::string bytes;
    while (bytes.size() < size)
        bytes += unit;
    bytes.resize(size);
    return bytes;
}

struct Progress {
    std::vector<std::string> texts;
};

int Record(void* instance, const char* text)
{
    static_cast<Progress*>(instance)->texts.push_back(text);
    return 1;
}

std::string Url()
{
    return std::string(PatchServerBaseUrl()) + kPackage;
}

std::string Target()
{
    char full[MAX_PATH];
    GetFullPathNameA(kPackage, sizeof full, full, nullptr);
    return full;
}

} // namespace

TEST(Download, PackageArrivesByteIdenticalWithProgressPerChunk)
{
    Scenario("name=package&size=150000");
    ScratchFile target(Target());
    Progress progress;
    EXPECT_EQ(1, DownloadPatch(Url().c_str(), target.path(), &progress, Record));
    EXPECT_TRUE(target.Read() == PackageBytes(150000));
    ASSERT_FALSE(progress.texts.empty());
    EXPECT_EQ(std::string("150000 Bytes read (") + kPackage + ")", progress.texts.back());
    std::string log = Control("log");
    EXPECT_NE(std::string::npos, log.find("\"agent\": \"InetURL/1.0\"")) << log;
}

TEST(Download, SignInRouteEndsWithThePackage)
{
    Scenario("name=signin&size=120000");
    ScratchFile target(Target());
    Progress progress;
    EXPECT_EQ(1, DownloadPatch(Url().c_str(), target.path(), &progress, Record));
    EXPECT_TRUE(target.Read() == PackageBytes(120000));
    std::string log = Control("log");
    size_t first = log.find("\"server\": \"patch\"");
    size_t login = log.find("\"server\": \"signin\", \"path\": \"/login/\", \"query\": \"RT=rt-");
    size_t back = log.find("\"query\": \"ticket=");
    EXPECT_TRUE(first < login && login < back && back != std::string::npos) << log;
    EXPECT_EQ(std::string::npos, log.find("\"agent\": \"tests\"", first)) << log;
    // The total runs on across the three fetches, past the package's size.
    unsigned last = 0;
    for (const std::string& text : progress.texts) {
        unsigned total = std::strtoul(text.c_str(), nullptr, 10);
        EXPECT_GT(total, last);
        last = total;
    }
    EXPECT_GT(last, 120000u);
}

TEST(Download, SignInPagesThatLeadNowhere)
{
    const struct {
        const char* scenario;
        int result;
        const char* inFile;
    } cases[] = {
        {"name=banner", 0, "Tarrowin Keyloom"},
        // The link cannot be cut out, so the reader answers false: the last
        // fetch stands and the result stays 1 (the size check judges it).
        {"name=return-nolink", 1, "<!-- The return_url -->"},
        {"name=return-again", 0, "<!-- The return_url -->"},
        {"name=error", 1, "Not Found"},
    };
    for (const auto& c : cases) {
        Scenario(c.scenario);
        ScratchFile target(Target());
        Progress progress;
        EXPECT_EQ(c.result, DownloadPatch(Url().c_str(), target.path(), &progress, Record))
            << c.scenario;
        EXPECT_NE(std::string::npos, target.Read().find(c.inFile)) << c.scenario;
    }
}

TEST(Download, UnreachableServerLeavesAnEmptyFile)
{
    ScratchFile target(Target(), "old content");
    Progress progress;
    EXPECT_EQ(0,
              DownloadPatch("http://127.0.0.1:9/patches/x.exe", target.path(), &progress, Record));
    EXPECT_EQ("", target.Read());
    EXPECT_TRUE(progress.texts.empty());
}

// A cut body looks like a finished one to InternetReadFile; only the
// announced length tells. Half of 300000 bytes would pass the run's size
// check and be started, so the file must end empty.
TEST(Download, EmptyBodyAndCutTransfer)
{
    Scenario("name=package&size=0");
    ScratchFile target(Target());
    Progress progress;
    EXPECT_EQ(1, DownloadPatch(Url().c_str(), target.path(), &progress, Record));
    EXPECT_EQ("", target.Read());
    EXPECT_TRUE(progress.texts.empty());

    Scenario("name=cut&size=300000");
    EXPECT_EQ(1, DownloadPatch(Url().c_str(), target.path(), &progress, Record));
    EXPECT_EQ("", target.Read());
    ASSERT_FALSE(progress.texts.empty());
    EXPECT_EQ(std::string("150000 Bytes read (") + kPackage + ")", progress.texts.back());
}

// Each URL is cut into host, port, path and query for its own request; what
// cannot be requested over the web is not, and leaves the file empty.
TEST(Download, RequestFollowsTheUrlsParts)
{
    const std::string origin = Origin();
    const struct {
        std::string url;
        int result;
        const char* path; // nullptr: no request at all
        const char* query;
    } cases[] = {
        {origin + "/patches/KB835732/" + kPackage + "?a=1&b=2", 1,
         "/patches/KB835732/WindowsXP-KB835732-x86-ENU.EXE", "a=1&b=2"},
        {origin, 1, "/", ""},
        {origin + "?x=1", 1, "/", "x=1"},
        {"http://" + std::string(300, 'h') + "/patches/", 0, nullptr, nullptr},
        {"ftp://127.0.0.1:48021/" + std::string(kPackage), 0, nullptr, nullptr},
        {"not a url", 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        Scenario("name=package&size=10");
        ScratchFile target(Target(), "old content");
        Progress progress;
        EXPECT_EQ(c.result, DownloadPatch(c.url.c_str(), target.path(), &progress, Record))
            << c.url;
        std::string log = Control("log");
        if (!c.path) {
            EXPECT_EQ("[]", log) << c.url;
            EXPECT_EQ("", target.Read()) << c.url;
            continue;
        }
        std::string want = std::string("\"path\": \"") + c.path + "\", \"query\": \"" + c.query +
                           "\"";
        EXPECT_NE(std::string::npos, log.find(want)) << c.url << "\n" << log;
        EXPECT_NE("old content", target.Read()) << c.url;
    }
}

TEST(Download, WithoutCallbackNothingIsTouched)
{
    ScratchFile target(Target(), "keep");
    EXPECT_EQ(0, DownloadPatch(Url().c_str(), target.path(), nullptr, nullptr));
    EXPECT_EQ("keep", target.Read());
}

TEST(Download, TargetWithoutBackslashGivesEmptyParentheses)
{
    Scenario("name=package&size=10");
    ScratchFile target("nobackslash.bin");
    Progress progress;
    DownloadPatch(Url().c_str(), target.path(), &progress, Record);
    ASSERT_EQ(1u, progress.texts.size());
    EXPECT_EQ("10 Bytes read ()", progress.texts[0]);
}

// Redirects are followed across http and https, 20 at the most: a server
// that sends the fetch round for ever (to itself, or down an endless chain)
// is given up, and the file is left empty, as for a URL that cannot be
// opened. Relative locations are resolved against the URL they answered.
TEST(Download, RedirectsEndAfterTwenty)
{
    const struct {
        const char* scenario;
        int result;
        size_t requests;
        size_t packageBytes; // 0: the file ends empty
    } cases[] = {
        {"name=redirect-chain&hops=20&size=120000", 1, 21, 120000},
        {"name=redirect-chain&hops=21&size=120000", 0, 21, 0},
        {"name=redirect-chain", 0, 21, 0},
        {"name=redirect-self", 0, 21, 0},
    };
    for (const auto& c : cases) {
        Scenario(c.scenario);
        ScratchFile target(Target(), "old content");
        Progress progress;
        EXPECT_EQ(c.result, DownloadPatch(Url().c_str(), target.path(), &progress, Record))
            << c.scenario;
        std::string log = Control("log");
        size_t requests = 0;
        for (size_t at = log.find("\"server\""); at != std::string::npos;
             at = log.find("\"server\"", at + 1))
            ++requests;
        EXPECT_EQ(c.requests, requests) << c.scenario << "\n" << log;
        EXPECT_TRUE(target.Read() == PackageBytes(c.packageBytes)) << c.scenario;
        if (c.packageBytes) {
            EXPECT_NE(std::string::npos, log.find("\"query\": \"hop=20\"")) << log;
        }
    }
}

// Bodies without a length arrive whole, chunked or ended by the close of an
// HTTP/1.0 connection.
TEST(Download, UnsizedBodiesArriveWhole)
{
    for (const char* scenario : {"name=chunked&size=150000", "name=http10&size=150000"}) {
        Scenario(scenario);
        ScratchFile target(Target());
        Progress progress;
        EXPECT_EQ(1, DownloadPatch(Url().c_str(), target.path(), &progress, Record)) << scenario;
        EXPECT_TRUE(target.Read() == PackageBytes(150000)) << scenario;
        ASSERT_FALSE(progress.texts.empty());
        EXPECT_EQ(std::string("150000 Bytes read (") + kPackage + ")", progress.texts.back());
    }
}

// A fetch must bring 1024 bytes in each progress window, which starts again
// with every 1024 bytes. The site sends 256 bytes at a time: a sixth of a
// window apart, 1024 bytes take two thirds of one, and a body four windows
// long arrives whole; 0.6 of a window apart, the first window brings 512
// bytes and the fetch ends in the second, with the file emptied.
TEST(Download, ProgressRuleEndsOnlyALinkBelowItsRate)
{
    const double window = PATCHER_PROGRESS_WINDOW_MS / 1000.0;
    const size_t size = 24 * 256;
    const struct {
        double apart; // in windows
        bool whole;
    } cases[] = {{1.0 / 6, true}, {0.6, false}};
    for (const auto& c : cases) {
        Scenario("name=slow&piece=256&size=" + std::to_string(size) +
                 "&interval=" + std::to_string(c.apart * window));
        ScratchFile target(Target());
        Progress progress;
        DWORD started = GetTickCount();
        EXPECT_EQ(1, DownloadPatch(Url().c_str(), target.path(), &progress, Record)) << c.apart;
        DWORD took = GetTickCount() - started;
        ASSERT_FALSE(progress.texts.empty()) << c.apart;
        unsigned last = std::strtoul(progress.texts.back().c_str(), nullptr, 10);
        if (c.whole) {
            EXPECT_TRUE(target.Read() == PackageBytes(size)) << c.apart;
            EXPECT_EQ(size, last);
            // It did run through several windows.
            EXPECT_GE(took, 3 * PATCHER_PROGRESS_WINDOW_MS) << c.apart;
        } else {
            EXPECT_EQ("", target.Read()) << c.apart;
            EXPECT_LT(last, size) << c.apart;
        }
    }
}

// A chunk that cannot be written ends the fetch at once: nothing more is
// read, and the file is emptied. disk_full.bin links to Linux's /dev/full
// (made by the build): the runtime buffers writes to it, and its first flush
// of a full buffer fails, so the chunk that overflows the buffer (4096
// bytes) is the first that cannot be written.
TEST(Download, FetchStopsAtTheFirstChunkNotWritten)
{
    const char kFull[] = "disk_full.bin";
    FILE* full = std::fopen(kFull, "wb");
    ASSERT_TRUE(full != nullptr);
    std::string bytes(8192, 'x');
    bool refused = std::fwrite(bytes.data(), bytes.size(), 1, full) != 1;
    std::fclose(full);
    ASSERT_TRUE(refused) << kFull << " takes what it is given: not the full device";

    Scenario("name=package&size=300000");
    Progress progress;
    EXPECT_EQ(1, DownloadPatch(Url().c_str(), kFull, &progress, Record));
    unsigned last = progress.texts.empty()
                        ? 0
                        : std::strtoul(progress.texts.back().c_str(), nullptr, 10);
    EXPECT_LE(last, 4096u);
}
