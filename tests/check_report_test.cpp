// The site check's verdicts: the program's own order of judgement (file,
// size, pin), and a reason an administrator can act on for each way a
// download fails.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "check/check_report.h"
#include "site_settings.h"

namespace {

const char kPin[] = "1111111111111111111111111111111111111111111111111111111111111111";
const char kOther[] = "2222222222222222222222222222222222222222222222222222222222222222";

// A whole, pinned package of 150000 bytes that arrived directly.
PackageFacts Arrived()
{
    PackageFacts facts;
    std::memset(&facts, 0, sizeof facts);
    facts.windows = "Windows XP";
    facts.package = "WindowsXP-KB835732-x86-ENU.EXE";
    facts.report.fetches = 1;
    facts.report.status = 200;
    facts.report.bytes = 150000;
    facts.report.lengthAnnounced = true;
    facts.report.announced = 150000;
    std::strcpy(facts.report.url, "http://patches.example.org/patches/KB835732/x.exe");
    facts.milliseconds = 1500;
    facts.fileExists = true;
    facts.fileSize = 150000;
    std::strcpy(facts.found, kPin);
    facts.pinnedRelease = true;
    std::strcpy(facts.pinned, kPin);
    return facts;
}

// A fetch that gave up and left the file empty, as the engine leaves it.
PackageFacts GaveUp(DownloadBreak why, unsigned long error = 0)
{
    PackageFacts facts = Arrived();
    facts.report.broke = why;
    facts.report.lastError = error;
    facts.fileSize = 0;
    facts.found[0] = '\0';
    return facts;
}

std::string Line(const PackageFacts& facts)
{
    char line[kCheckLineArea];
    FormatCheckLine(facts, line);
    return line;
}

std::string VerdictPart(const PackageFacts& facts)
{
    std::string line = Line(facts);
    return line.substr(line.rfind(" | ") + 3);
}

} // namespace

TEST(CheckReport, JudgedAsTheProgramJudges)
{
    PackageFacts facts = Arrived();
    EXPECT_EQ(kVerdictRuns, JudgePackage(facts));
    EXPECT_EQ("Windows XP | WindowsXP-KB835732-x86-ENU.EXE | direct, 0 redirects | 150000 bytes, "
              "length announced | 1.5 s, 97 KB/s | runs (SHA-256 as pinned)",
              Line(facts));

    // The size comes first: the pinned file itself, were it this short.
    facts.fileSize = 100000;
    EXPECT_EQ(kVerdictUnableToDownload, JudgePackage(facts));
    facts.fileSize = 100001;
    EXPECT_EQ(kVerdictRuns, JudgePackage(facts));

    facts.fileExists = false;
    EXPECT_EQ(kVerdictUnableToRun, JudgePackage(facts));
    EXPECT_EQ("\"unable to run\" (no file was saved)", VerdictPart(facts));

    // A pinned release refuses another file, and one it holds no pin for.
    facts = Arrived();
    std::strcpy(facts.found, kOther);
    EXPECT_EQ(kVerdictRefused, JudgePackage(facts));
    EXPECT_EQ(std::string("refused (SHA-256 found ") + kOther + ", pinned " + kPin + ")",
              VerdictPart(facts));
    facts.pinned[0] = '\0';
    EXPECT_EQ(kVerdictRefused, JudgePackage(facts));

    // Unpinned, any file past the size runs.
    facts.pinnedRelease = false;
    EXPECT_EQ(kVerdictRuns, JudgePackage(facts));
    EXPECT_EQ("runs (unpinned release: not compared)", VerdictPart(facts));
}

TEST(CheckReport, RouteAndUnsizedBody)
{
    PackageFacts facts = Arrived();
    facts.report.fetches = 3;
    facts.report.redirects = 1;
    facts.report.lengthAnnounced = false;
    facts.report.announced = 0;
    EXPECT_TRUE(IsUnsized(facts));
    std::string line = Line(facts);
    EXPECT_NE(std::string::npos, line.find("| sign-in pages (2 follow-up fetches), 1 redirect |"))
        << line;
    // The hosts where the PCs' own TLS must make a secure channel.
    std::strcpy(facts.report.secureHosts, "signin.example.org:443, sso.example.org:8443");
    facts.report.moreSecureHosts = true;
    EXPECT_NE(std::string::npos,
              Line(facts).find("| sign-in pages (2 follow-up fetches), 1 redirect, HTTPS at "
                               "signin.example.org:443, sso.example.org:8443 and more |"))
        << Line(facts);
    EXPECT_NE(std::string::npos,
              line.find("150000 bytes, NO LENGTH announced (warning: only the pin would catch"))
        << line;
    EXPECT_EQ("runs (SHA-256 as pinned)", VerdictPart(facts));

    // No answer at all is no body, not an unsized one.
    facts = GaveUp(kBreakNoAnswer, 12029);
    facts.report.status = 0;
    facts.report.lengthAnnounced = false;
    EXPECT_FALSE(IsUnsized(facts));
    EXPECT_NE(std::string::npos, Line(facts).find("| no answer |"));
}

TEST(CheckReport, EachFailureSaysWhy)
{
    const struct {
        PackageFacts facts;
        const char* reason;
    } cases[] = {
        {GaveUp(kBreakReadFailed, 12002),
         "silence: the server stopped sending after 150000 bytes (timeout)"},
        {GaveUp(kBreakReadFailed, 10060), "silence: the server stopped sending"},
        {GaveUp(kBreakReadFailed, 12031), "the connection broke off after 150000 bytes"},
        {GaveUp(kBreakTooSlow), "too slow: less than 1024 bytes in "},
        {GaveUp(kBreakTooLarge), "larger than any package"},
        {GaveUp(kBreakNoAnswer, 12045), "the certificate of http://patches.example.org is not "
                                        "from a CA the PCs trust (WinINet error 12045)"},
        {GaveUp(kBreakNoAnswer, 12057), "is refused: not from a CA the PCs trust, or its "
                                        "revocation cannot be checked"},
        {GaveUp(kBreakNoAnswer, 12038), "is for another host name"},
        // A secure channel that could not be set up is no certificate's fault.
        {GaveUp(kBreakNoAnswer, 12157),
         "(no secure channel to http://patches.example.org: no "
         "protocol or cipher suite in common (WinINet error 12157))"},
        {GaveUp(kBreakNoAnswer, 12044), "http://patches.example.org asks the PCs for a certificate "
                                        "of their own (WinINet error 12044)"},
        {GaveUp(kBreakNoAnswer, 12002), "silence: http://patches.example.org did not answer"},
        {GaveUp(kBreakNoAnswer, 12007), "no such host: http://patches.example.org"},
        {GaveUp(kBreakNoAnswer, 1), "could not be requested (WinINet error 1)"},
    };
    for (const auto& c : cases) {
        std::string verdict = VerdictPart(c.facts);
        EXPECT_EQ(0u, verdict.find("\"unable to download\" (")) << verdict;
        EXPECT_NE(std::string::npos, verdict.find(c.reason)) << verdict;
    }
    // The window is the one the engine was built with: a minute in a
    // release, shorter in the test build.
    EXPECT_NE(std::string::npos,
              VerdictPart(GaveUp(kBreakTooSlow))
                  .find("in " + std::to_string(PATCHER_PROGRESS_WINDOW_MS / 1000) + " s, after "));

    PackageFacts cut = GaveUp(kBreakShortBody);
    cut.report.bytes = 100000;
    cut.report.announced = 200000;
    EXPECT_EQ("\"unable to download\" (cut: 100000 bytes where 200000 were announced)",
              VerdictPart(cut));

    PackageFacts loop = GaveUp(kBreakRedirectLoop);
    loop.report.redirects = 20;
    EXPECT_EQ("\"unable to download\" (redirect loop: given up after 20 redirects)",
              VerdictPart(loop));

    // A whole answer that is no package: what it is instead.
    PackageFacts page = Arrived();
    page.report.status = 404;
    page.fileSize = page.report.bytes = 77;
    EXPECT_EQ("\"unable to download\" (error page: HTTP 404, no file under this exact name "
              "(case included))",
              VerdictPart(page));
    page.report.status = 200;
    page.signInPage = true;
    EXPECT_EQ("\"unable to download\" (a page of the sign-in service that leads nowhere)",
              VerdictPart(page));
    page.signInPage = false;
    EXPECT_EQ("\"unable to download\" (too small: 77 bytes, not a package)", VerdictPart(page));
}

TEST(CheckReport, UnansweredOnlyWhenThePatchServerNeverAnswered)
{
    for (unsigned long error : {12029ul, 12007ul, 12002ul, 10060ul})
        EXPECT_TRUE(IsUnanswered(GaveUp(kBreakNoAnswer, error))) << error;
    EXPECT_FALSE(IsUnanswered(GaveUp(kBreakNoAnswer, 12045)));
    EXPECT_FALSE(IsUnanswered(GaveUp(kBreakReadFailed, 12002)));
    PackageFacts later = GaveUp(kBreakNoAnswer, 12029);
    later.report.redirects = 1; // the patch server answered, with a redirect
    EXPECT_FALSE(IsUnanswered(later));
    later = GaveUp(kBreakNoAnswer, 12029);
    later.report.fetches = 2; // and here with a sign-in page
    EXPECT_FALSE(IsUnanswered(later));
}

// Text from the network and the longest names still make a terminated line
// within its array.
TEST(CheckReport, LongestPartsStayInTheLine)
{
    std::string name(259, 'n');
    PackageFacts facts = GaveUp(kBreakNoAddress);
    facts.package = name.c_str();
    std::memset(facts.report.url, 'u', sizeof facts.report.url - 1);
    facts.report.url[sizeof facts.report.url - 1] = '\0';
    facts.milliseconds = 0;
    char line[kCheckLineArea];
    std::memset(line, 'x', sizeof line);
    FormatCheckLine(facts, line);
    size_t length = strnlen(line, sizeof line);
    ASSERT_LT(length, sizeof line);
    EXPECT_NE(std::string::npos, std::string(line).find(name));
    EXPECT_NE(std::string::npos, std::string(line).find("| 0.0 s, 146484 KB/s |"));
}
