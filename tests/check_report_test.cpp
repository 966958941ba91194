// The site check's lines, each compared whole as the administrator reads
// it: the program's own order of judgement (file, size, pin), and a reason
// he can act on for each way a download fails.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "check/check_report.h"
#include "site_settings.h"

namespace {

const char kPin[] = "1111111111111111111111111111111111111111111111111111111111111111";
const char kOther[] = "2222222222222222222222222222222222222222222222222222222222222222";
const char kPatchUrl[] = "http://patches.example.org/patches/KB835732/x.exe";
const char kSignInUrl[] = "https://signin.example.org/login/?RT=1;ST=2";
const char kXp[] = "WindowsXP-KB835732-x86-ENU.EXE";

// A whole, pinned package of 150000 bytes that arrived directly.
PackageFacts Arrived()
{
    PackageFacts facts;
    std::memset(&facts, 0, sizeof facts);
    facts.windows = "Windows XP";
    facts.package = kXp;
    facts.report.fetches = 1;
    facts.report.status = 200;
    facts.report.bytes = 150000;
    facts.report.lengthAnnounced = true;
    facts.report.announced = 150000;
    std::strcpy(facts.report.url, kPatchUrl);
    facts.milliseconds = 1500;
    facts.fileExists = true;
    facts.fileSize = 150000;
    std::strcpy(facts.found, kPin);
    facts.pinnedRelease = true;
    std::strcpy(facts.pinned, kPin);
    return facts;
}

template <typename Change>
PackageFacts With(PackageFacts facts, Change change)
{
    change(facts);
    return facts;
}

// A fetch that gave up after `bytes` and left the file empty, as the
// engine leaves it.
PackageFacts GaveUp(DownloadBreak why, unsigned long error = 0, unsigned bytes = 150000)
{
    return With(Arrived(), [=](PackageFacts& f) {
        f.report.broke = why;
        f.report.lastError = error;
        f.report.bytes = bytes;
        f.fileSize = 0;
        f.found[0] = '\0';
    });
}

// A request that got no answer at all, to `url`.
PackageFacts Unanswered(unsigned long error, const char* url = kPatchUrl)
{
    return With(GaveUp(kBreakNoAnswer, error, 0), [=](PackageFacts& f) {
        f.report.status = 0;
        f.report.lengthAnnounced = false;
        f.report.announced = 0;
        std::strcpy(f.report.url, url);
    });
}

std::string Line(const PackageFacts& facts)
{
    char line[kCheckLineArea];
    FormatCheckLine(facts, line);
    return line;
}

std::string Summary(int running, int checked, int unsized, bool pinned, const char* failing)
{
    char line[kCheckLineArea];
    FormatSummary(running, checked, unsized, pinned, failing, line);
    return line;
}

std::string ThisPc(const char* description, PcPackage state, const char* package = kXp,
                   const char* language = "", const char* wanted = nullptr)
{
    char line[kCheckLineArea];
    FormatPcLine(description, language, "Windows XP", package, state, line, wanted);
    return line;
}

} // namespace

TEST(CheckReport, EveryLineWhole)
{
    const std::string xp = "Windows XP | WindowsXP-KB835732-x86-ENU.EXE | ";
    const std::string direct = xp + "direct, 0 redirects | ";
    const std::string whole = direct + "150000 bytes, length announced | 1.5 s, 97 KB/s | ";
    const std::string nothing = direct + "no answer | 1.5 s, 0 KB/s | \"unable to download\" (";
    const std::string broke = whole + "\"unable to download\" (";
    const std::string page = direct + "77 bytes, length announced | 1.5 s, 0 KB/s | "
                                      "\"unable to download\" (";
    const auto short_page = [](unsigned long status) {
        return With(Arrived(), [=](PackageFacts& f) {
            f.report.status = status;
            f.fileSize = f.report.bytes = f.report.announced = 77;
        });
    };
    const struct {
        std::string line;
        std::string expected;
    } rows[] = {
        {Line(Arrived()), whole + "runs (SHA-256 as pinned)"},
        {Line(With(Arrived(), [](PackageFacts& f) { f.pinnedRelease = false; })),
         whole + "runs (unpinned release: not compared)"},
        {Line(With(Arrived(),
                   [](PackageFacts& f) {
                       f.report.fetches = 3;
                       f.report.redirects = 1;
                       f.report.lengthAnnounced = false;
                       // Where the PCs' own TLS must make a secure channel.
                       std::strcpy(f.report.secureHosts, "signin.example.org:443, sso:8443");
                       f.report.moreSecureHosts = true;
                   })),
         xp + "sign-in pages (2 follow-up fetches), 1 redirect, HTTPS at signin.example.org:443, "
              "sso:8443 and more | 150000 bytes, NO LENGTH "
              "announced (warning: only the pin would catch a cut) | 1.5 s, 97 KB/s | runs "
              "(SHA-256 as pinned)"},
        {Line(With(Arrived(),
                   [](PackageFacts& f) {
                       f.report.fetches = 2;
                       f.report.lengthAnnounced = false;
                       f.pinnedRelease = false;
                       std::strcpy(f.report.secureHosts, "signin.example.org:443");
                   })),
         xp + "sign-in pages (1 follow-up fetch), 0 redirects, HTTPS at signin.example.org:443 | "
              "150000 bytes, NO LENGTH "
              "announced (warning: a cut would go unseen) | 1.5 s, 97 KB/s | runs (unpinned "
              "release: not compared)"},
        // A pinned release refuses another file, and one it holds no pin for.
        {Line(With(Arrived(), [](PackageFacts& f) { std::strcpy(f.found, kOther); })),
         whole + "refused (SHA-256 found " + kOther + ", pinned " + kPin + ")"},
        {Line(With(Arrived(),
                   [](PackageFacts& f) {
                       f.found[0] = f.pinned[0] = '\0';
                       f.report.status = 203;
                   })),
         whole + "refused (SHA-256 found none: unreadable, pinned none, HTTP 203)"},
        {Line(With(Unanswered(0),
                   [](PackageFacts& f) {
                       f.report.broke = kBreakNoFile;
                       f.fileExists = false;
                   })),
         direct + "no answer | 1.5 s, 0 KB/s | \"unable to run\" (no file was saved)"},
        // The file exists but a follow-up could not open it again.
        {Line(GaveUp(kBreakNoFile)), broke + "the file could not be written)"},
        {Line(With(Unanswered(0), [](PackageFacts& f) { f.report.broke = kBreakNoSession; })),
         nothing + "WinINet could not be started)"},
        {Line(Unanswered(12029)),
         nothing + "no connection to http://patches.example.org (WinINet error 12029))"},
        {Line(Unanswered(12007)),
         nothing + "no such host: http://patches.example.org (WinINet error 12007))"},
        {Line(Unanswered(12002)),
         nothing + "silence: http://patches.example.org did not answer (WinINet error 12002))"},
        {Line(Unanswered(10060)),
         nothing + "silence: http://patches.example.org did not answer (WinINet error 10060))"},
        {Line(Unanswered(12031)),
         nothing + "http://patches.example.org closed the connection (WinINet error 12031))"},
        {Line(Unanswered(12037, kSignInUrl)),
         nothing + "the certificate of https://signin.example.org has expired or is not yet "
                   "valid (WinINet error 12037))"},
        {Line(Unanswered(12038, kSignInUrl)),
         nothing + "the certificate of https://signin.example.org is for another host name "
                   "(WinINet error 12038))"},
        {Line(Unanswered(12045, kSignInUrl)),
         nothing + "the certificate of https://signin.example.org is not from a CA the PCs "
                   "trust (WinINet error 12045))"},
        {Line(Unanswered(12057, kSignInUrl)),
         nothing + "the certificate of https://signin.example.org is refused: not from a CA the "
                   "PCs trust, or its revocation cannot be checked (WinINet error 12057))"},
        // A secure channel that could not be set up is no certificate's fault.
        {Line(Unanswered(12157, kSignInUrl)),
         nothing + "no secure channel to https://signin.example.org: no protocol or cipher suite "
                   "in common (WinINet error 12157))"},
        {Line(Unanswered(12044, kSignInUrl)),
         nothing + "https://signin.example.org asks the PCs for a certificate of their own "
                   "(WinINet error 12044))"},
        {Line(Unanswered(12055, kSignInUrl)),
         nothing + "the certificate of https://signin.example.org is refused (WinINet error "
                   "12055))"},
        {Line(Unanswered(12152)),
         nothing + "http://patches.example.org did not answer in HTTP (WinINet error 12152))"},
        {Line(Unanswered(1, "")), nothing + "the server could not be requested (WinINet error 1))"},
        {Line(With(Unanswered(0),
                   [](PackageFacts& f) {
                       f.report.broke = kBreakRedirectLoop;
                       f.report.redirects = 21;
                   })),
         xp + "direct, 21 redirects | no answer | 1.5 s, 0 KB/s | \"unable to download\" "
              "(redirect loop: given up after 21 redirects)"},
        {Line(GaveUp(kBreakNoAddress)),
         broke + "a redirect or link that cannot be followed, after " + kPatchUrl + ")"},
        {Line(With(GaveUp(kBreakNoAddress), [](PackageFacts& f) { f.report.url[0] = '\0'; })),
         broke + "a redirect or link that cannot be followed, after the first request)"},
        {Line(GaveUp(kBreakReadFailed, 12002, 75000)),
         direct + "75000 bytes, length announced | 1.5 s, 48 KB/s | \"unable to download\" "
                  "(silence: the server stopped sending after 75000 bytes (timeout))"},
        {Line(GaveUp(kBreakReadFailed, 10060, 75000)),
         direct + "75000 bytes, length announced | 1.5 s, 48 KB/s | \"unable to download\" "
                  "(silence: the server stopped sending after 75000 bytes (timeout))"},
        {Line(GaveUp(kBreakReadFailed, 12031, 75000)),
         direct + "75000 bytes, length announced | 1.5 s, 48 KB/s | \"unable to download\" "
                  "(the connection broke off after 75000 bytes (WinINet error 12031))"},
        {Line(With(GaveUp(kBreakShortBody, 0, 100000),
                   [](PackageFacts& f) { f.report.announced = 200000; })),
         direct + "100000 bytes, length announced | 1.5 s, 65 KB/s | \"unable to download\" "
                  "(cut: 100000 bytes where 200000 were announced)"},
        {Line(GaveUp(kBreakLongBody, 0, 150001)),
         direct + "150001 bytes, length announced | 1.5 s, 97 KB/s | \"unable to download\" "
                  "(too long: 150001 bytes where 150000 were announced)"},
        {Line(GaveUp(kBreakTooLarge, 0, 4194305)),
         direct + "4194305 bytes, length announced | 1.5 s, 2730 KB/s | \"unable to download\" "
                  "(larger than any package: given up after 4194305 bytes)"},
        // The window is the one the engine was built with: a minute in a
        // release, shorter in the test build.
        {Line(GaveUp(kBreakTooSlow, 0, 2048)),
         direct +
             "2048 bytes, length announced | 1.5 s, 1 KB/s | \"unable to download\" (too "
             "slow: less than 1024 bytes in " +
             std::to_string(PATCHER_PROGRESS_WINDOW_MS / 1000) + " s, after 2048 bytes)"},
        {Line(GaveUp(kBreakWriteFailed)), broke + "the file could not be written whole)"},
        // A whole answer that is no package: what it is instead.
        {Line(short_page(404)),
         page + "error page: HTTP 404, no file under this exact name (case included))"},
        {Line(short_page(403)), page + "error page: HTTP 403)"},
        {Line(With(short_page(200), [](PackageFacts& f) { f.signInPage = true; })),
         page + "a page of the sign-in service that leads nowhere)"},
        {Line(short_page(200)), page + "too small: 77 bytes, not a package)"},
        {Line(With(short_page(200), [](PackageFacts& f) { f.fileSize = f.report.bytes = 0; })),
         direct + "0 bytes, length announced | 1.5 s, 0 KB/s | \"unable to download\" (no "
                  "bytes)"},
        // The size comes first: the pinned file itself, were it this short.
        {Line(With(Arrived(), [](PackageFacts& f) { f.fileSize = 100000; })),
         whole + "\"unable to download\" (too small: 100000 bytes, not a package)"},
        {Summary(2, 2, 0, true, ""), "summary: 2 of 2 pinned packages would run"},
        {Summary(1, 3, 2, false, "Windows 98, Windows XP"),
         "summary: 1 of 3 packages would run; not on: Windows 98, Windows XP; 2 came with no "
         "length (warning)"},
        {ThisPc("Windows XP  Service Pack 3 Ver 5.1 (2600)", kPcPackageChecked),
         "this PC runs Windows XP  Service Pack 3 Ver 5.1 (2600) and gets "
         "WindowsXP-KB835732-x86-ENU.EXE: read the line \"Windows XP | "
         "WindowsXP-KB835732-x86-ENU.EXE\" below"},
        {ThisPc("Windows XP", kPcPackageChecked, "WindowsXP-KB835732-x86-DEU.EXE", "German (DEU)"),
         "this PC runs Windows XP in German (DEU) and gets WindowsXP-KB835732-x86-DEU.EXE: read "
         "the line \"Windows XP | WindowsXP-KB835732-x86-DEU.EXE\" below"},
        {ThisPc("Windows XP", kPcPackageChecked, kXp, "German (DEU)",
                "WindowsXP-KB835732-x86-DEU.EXE"),
         "this PC runs Windows XP in German (DEU) and gets WindowsXP-KB835732-x86-ENU.EXE: read "
         "the line \"Windows XP | WindowsXP-KB835732-x86-ENU.EXE\" below; "
         "WindowsXP-KB835732-x86-ENU.EXE is the English package, which refuses to install on a "
         "Windows in another language: this release holds no WindowsXP-KB835732-x86-DEU.EXE (put "
         "it in the package folder, publish it and release again)"},
        {ThisPc("Windows 98", kPcPackageNotChecked, "828028USA8.EXE", "French (FRA)", ""),
         "this PC runs Windows 98 in French (FRA) and gets 828028USA8.EXE: not checked in this "
         "run; 828028USA8.EXE is the English package, which refuses to install on a Windows in "
         "another language: the program asks for no other language's package on this Windows"},
        {ThisPc("Windows XP   Ver 5.1 (2600)", kPcPackageNotChecked),
         "this PC runs Windows XP   Ver 5.1 (2600) and gets WindowsXP-KB835732-x86-ENU.EXE: not "
         "checked in this run"},
        {ThisPc("Windows XP   Ver 5.1 (2600)", kPcPackageNotPinned),
         "this PC runs Windows XP   Ver 5.1 (2600) and gets WindowsXP-KB835732-x86-ENU.EXE: not "
         "in this release (the program refuses any download there)"},
        {ThisPc("Windows 95   Ver 4.0 (67109814)", kPcNoPackage, nullptr),
         "this PC runs Windows 95   Ver 4.0 (67109814): the program has no package for it and "
         "says \"Update Not Required\""},
        {ThisPc("", kPcNoPackage, nullptr),
         "this PC runs a Windows the program does not recognise: the program has no package for "
         "it and says \"Update Not Required\""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, row.line);
}

TEST(CheckReport, JudgedAsTheProgramJudges)
{
    PackageFacts facts = Arrived();
    EXPECT_EQ(kVerdictRuns, JudgePackage(facts));
    facts.fileSize = 100000;
    EXPECT_EQ(kVerdictUnableToDownload, JudgePackage(facts));
    facts.fileSize = 100001;
    EXPECT_EQ(kVerdictRuns, JudgePackage(facts));
    facts.fileExists = false;
    EXPECT_EQ(kVerdictUnableToRun, JudgePackage(facts));
    facts = Arrived();
    facts.pinned[0] = '\0';
    EXPECT_EQ(kVerdictRefused, JudgePackage(facts));
    // Unpinned, any file past the size runs.
    facts.pinnedRelease = false;
    std::strcpy(facts.found, kOther);
    EXPECT_EQ(kVerdictRuns, JudgePackage(facts));
}

TEST(CheckReport, UnsizedOnlyWhenABodyCame)
{
    EXPECT_TRUE(
        IsUnsized(With(Arrived(), [](PackageFacts& f) { f.report.lengthAnnounced = false; })));
    EXPECT_FALSE(IsUnsized(Arrived()));
    EXPECT_FALSE(IsUnsized(Unanswered(12029)));
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
