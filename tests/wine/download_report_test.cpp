// What the engine reports of a download against the simulated site: the
// route, the answer and why a fetch gave up, as the site check prints them.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <string>

#include "download/download_engine.h"
#include "inspect/package_plan.h"
#include "site_settings.h"
#include "test_files.h"

namespace {

const char kPackage[] = "WindowsXP-KB835732-x86-ENU.EXE";

std::string Url()
{
    return std::string(PatchServerBaseUrl()) + kPackage;
}

void Scenario(const std::string& query)
{
    std::string base = PatchServerBaseUrl();
    std::string control = base.substr(0, base.find("/patches/")) + "/_control/scenario?" + query;
    HINTERNET session = InternetOpenA("tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlA(session, control.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD,
                                         0);
    char answer[16] = "";
    DWORD got = 0;
    ASSERT_TRUE(request && InternetReadFile(request, answer, sizeof answer - 1, &got));
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    ASSERT_STREQ("ok\n", answer);
}

int Ignore(void*, const char*)
{
    return 1;
}

DownloadReport Download(const std::string& url)
{
    char full[MAX_PATH];
    GetFullPathNameA("report_test.bin", sizeof full, full, nullptr);
    ScratchFile target(full);
    DownloadReport report;
    std::memset(&report, 0x5a, sizeof report); // nothing left from before the call
    DownloadPatch(url.c_str(), target.path(), nullptr, Ignore, &report);
    return report;
}

} // namespace

TEST(DownloadReport, RouteAndAnswer)
{
    const struct {
        const char* scenario;
        int fetches;
        int redirects;
        unsigned long status;
        unsigned bytes;
        bool announced;
        const char* secureHosts; // each once, however often asked
    } cases[] = {
        {"name=package&size=150000", 1, 0, 200, 150000, true, ""},
        {"name=signin&size=120000", 3, 0, 200, 120000, true, PATCHER_SIGNIN_HOST},
        {"name=signin-redirect&size=120000", 3, 1, 200, 120000, true, PATCHER_SIGNIN_HOST},
        {"name=redirect-chain&hops=3&size=110000", 1, 3, 200, 110000, true, ""},
        {"name=chunked&size=150000", 1, 0, 200, 150000, false, ""},
        {"name=http10&size=150000", 1, 0, 200, 150000, false, ""},
        {"name=error", 1, 0, 404, 77, true, ""},
    };
    for (const auto& c : cases) {
        Scenario(c.scenario);
        DownloadReport report = Download(Url());
        EXPECT_EQ(c.fetches, report.fetches) << c.scenario;
        EXPECT_EQ(c.redirects, report.redirects) << c.scenario;
        EXPECT_EQ(c.status, report.status) << c.scenario;
        EXPECT_EQ(c.bytes, report.bytes) << c.scenario;
        EXPECT_EQ(c.announced, report.lengthAnnounced) << c.scenario;
        EXPECT_EQ(c.announced ? c.bytes : 0, report.announced) << c.scenario;
        EXPECT_EQ(kBreakNone, report.broke) << c.scenario;
        EXPECT_EQ(0u, report.lastError) << c.scenario;
        EXPECT_STREQ(c.secureHosts, report.secureHosts) << c.scenario;
        EXPECT_FALSE(report.moreSecureHosts) << c.scenario;
    }
    // The last URL requested: the package's, back from the sign-in pages.
    Scenario("name=signin&size=120000");
    std::string last = Download(Url()).url;
    EXPECT_EQ(0u, last.find(Url() + "?ticket=")) << last;
}

TEST(DownloadReport, WhyTheLastFetchGaveUp)
{
    Scenario("name=cut&size=300000");
    DownloadReport report = Download(Url());
    EXPECT_EQ(kBreakShortBody, report.broke);
    EXPECT_EQ(150000u, report.bytes);
    EXPECT_EQ(300000u, report.announced);

    Scenario("name=redirect-self");
    report = Download(Url());
    EXPECT_EQ(kBreakRedirectLoop, report.broke);
    EXPECT_EQ(20, report.redirects);
    EXPECT_EQ(0u, report.status);

    report = Download("http://127.0.0.1:9/patches/x.exe");
    EXPECT_EQ(kBreakNoAnswer, report.broke);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INTERNET_CANNOT_CONNECT), report.lastError);
    EXPECT_STREQ("http://127.0.0.1:9/patches/x.exe", report.url);

    report = Download("ftp://127.0.0.1:48021/x.exe");
    EXPECT_EQ(kBreakNoAddress, report.broke);
    EXPECT_EQ(1, report.fetches);

    // An https sign-in host with a certificate of a CA the prefix lacks:
    // Windows says "invalid CA", Wine 8 that revocation could not be checked.
    Scenario("name=signin-redirect&via=untrusted");
    report = Download(Url());
    EXPECT_EQ(kBreakNoAnswer, report.broke);
    EXPECT_TRUE(report.lastError == ERROR_INTERNET_INVALID_CA ||
                report.lastError == ERROR_INTERNET_SEC_CERT_REV_FAILED)
        << report.lastError;
    EXPECT_EQ(0u, std::string(report.url).find("https://localhost:")) << report.url;
    EXPECT_STREQ("localhost:48444", report.secureHosts);

    // A sign-in service that speaks TLS 1.2 and later only, to a prefix that
    // speaks TLS 1.0 at most as the PCs do: no secure channel, and the host
    // is listed all the same, for the handshakes to be tried there.
    Scenario("name=signin&tls=modern");
    report = Download(Url());
    EXPECT_EQ(kBreakNoAnswer, report.broke);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR), report.lastError);
    EXPECT_STREQ(PATCHER_SIGNIN_HOST, report.secureHosts);
}

TEST(DownloadReport, EmptyWithoutCallback)
{
    DownloadReport report;
    std::memset(&report, 0x5a, sizeof report);
    DownloadPatch(Url().c_str(), "unused.bin", nullptr, nullptr, &report);
    EXPECT_EQ(0, report.fetches);
    EXPECT_EQ(kBreakNone, report.broke);
    EXPECT_STREQ("", report.url);
}
