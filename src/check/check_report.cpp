#include "check_report.h"

#include <cstring>

#include "../common/fixed_text.h"
#include "site_settings.h"

namespace {

// The program's own bound: a download of this many bytes or fewer is not
// a package.
constexpr unsigned long kSmallestPackage = 100000;
constexpr size_t kPartArea = 512;
// "scheme://host:port" of a URL, as long as any host name can be.
constexpr size_t kOriginArea = 300;

// WinINet's errors that the check explains (KB 193625 lists them all).
constexpr unsigned long kTimeout = 12002;
// Wine 8 passes the socket's own error on for a read that timed out.
constexpr unsigned long kSocketTimeout = 10060;
constexpr unsigned long kNameNotResolved = 12007;
constexpr unsigned long kCannotConnect = 12029;
constexpr unsigned long kConnectionAborted = 12030;
constexpr unsigned long kConnectionReset = 12031;
constexpr unsigned long kCertificateDate = 12037;
constexpr unsigned long kCertificateName = 12038;
constexpr unsigned long kUnknownCa = 12045;
constexpr unsigned long kCertificateErrors = 12055;
// Wine 8 answers this one, not kUnknownCa, for a root it does not hold.
constexpr unsigned long kRevocationFailed = 12057;
// A secure channel that could not be set up: no protocol or suite in common.
constexpr unsigned long kSecureChannel = 12157;
constexpr unsigned long kClientCertificate = 12044;
constexpr unsigned long kInvalidCertificate = 12169;
constexpr unsigned long kCertificateRevoked = 12170;
constexpr unsigned long kInvalidServerResponse = 12152;

bool IsTimeout(unsigned long error)
{
    return error == kTimeout || error == kSocketTimeout;
}

// Every part of a line is cut to fit rather than dropped: a line cut short
// still tells the administrator more than none.
template <size_t N>
void Add(char (&text)[N], const char* part)
{
    AppendTextCut(text, part);
}

template <size_t N>
void AddNumber(char (&text)[N], unsigned long long value)
{
    char reversed[24];
    size_t n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char digits[24];
    for (size_t i = 0; i < n; ++i)
        digits[i] = reversed[n - 1 - i];
    digits[n] = '\0';
    Add(text, digits);
}

// "http://host:port" of the URL last requested; "the server" when none.
void FindOrigin(const char* url, char (&origin)[kOriginArea])
{
    const char* host = std::strstr(url, "://");
    if (url[0] == '\0' || !host) {
        CopyText(origin, "the server");
        return;
    }
    const char* end = std::strchr(host + 3, '/');
    size_t length = end ? static_cast<size_t>(end - url) : std::strlen(url);
    CopyTextCut(origin, sizeof origin, url, length);
}

// Why a request got no answer, naming the server it went to.
template <size_t N>
void AddRequestFailure(char (&text)[N], const DownloadReport& report)
{
    char origin[kOriginArea];
    FindOrigin(report.url, origin);
    switch (IsTimeout(report.lastError) ? kTimeout : report.lastError) {
    case kTimeout:
        Add(text, "silence: ");
        Add(text, origin);
        Add(text, " did not answer");
        break;
    case kNameNotResolved:
        Add(text, "no such host: ");
        Add(text, origin);
        break;
    case kCannotConnect:
        Add(text, "no connection to ");
        Add(text, origin);
        break;
    case kConnectionAborted:
    case kConnectionReset:
        Add(text, origin);
        Add(text, " closed the connection");
        break;
    case kCertificateDate:
        Add(text, "the certificate of ");
        Add(text, origin);
        Add(text, " has expired or is not yet valid");
        break;
    case kCertificateName:
        Add(text, "the certificate of ");
        Add(text, origin);
        Add(text, " is for another host name");
        break;
    case kUnknownCa:
        Add(text, "the certificate of ");
        Add(text, origin);
        Add(text, " is not from a CA the PCs trust");
        break;
    case kRevocationFailed:
        Add(text, "the certificate of ");
        Add(text, origin);
        Add(text, " is refused: not from a CA the PCs trust, or its revocation cannot be checked");
        break;
    case kSecureChannel:
        // Protocol or suites, before any certificate is looked at.
        Add(text, "no secure channel to ");
        Add(text, origin);
        Add(text, ": no protocol or cipher suite in common");
        break;
    case kClientCertificate:
        Add(text, origin);
        Add(text, " asks the PCs for a certificate of their own");
        break;
    case kCertificateErrors:
    case kInvalidCertificate:
    case kCertificateRevoked:
        Add(text, "the certificate of ");
        Add(text, origin);
        Add(text, " is refused");
        break;
    case kInvalidServerResponse:
        Add(text, origin);
        Add(text, " did not answer in HTTP");
        break;
    default:
        Add(text, origin);
        Add(text, " could not be requested");
        break;
    }
    Add(text, " (WinINet error ");
    AddNumber(text, report.lastError);
    Add(text, ")");
}

// Why the program would find no package in the file.
template <size_t N>
void AddUnableReason(char (&text)[N], const PackageFacts& facts)
{
    const DownloadReport& report = facts.report;
    switch (report.broke) {
    case kBreakNoFile: Add(text, "the file could not be written"); return;
    case kBreakNoSession: Add(text, "WinINet could not be started"); return;
    case kBreakNoAnswer: AddRequestFailure(text, report); return;
    case kBreakRedirectLoop:
        Add(text, "redirect loop: given up after ");
        AddNumber(text, static_cast<unsigned long long>(report.redirects));
        Add(text, " redirects");
        return;
    case kBreakNoAddress:
        Add(text, "a redirect or link that cannot be followed, after ");
        Add(text, report.url[0] ? report.url : "the first request");
        return;
    case kBreakReadFailed:
        if (IsTimeout(report.lastError)) {
            Add(text, "silence: the server stopped sending after ");
            AddNumber(text, report.bytes);
            Add(text, " bytes (timeout)");
        } else {
            Add(text, "the connection broke off after ");
            AddNumber(text, report.bytes);
            Add(text, " bytes (WinINet error ");
            AddNumber(text, report.lastError);
            Add(text, ")");
        }
        return;
    case kBreakShortBody:
    case kBreakLongBody:
        Add(text, report.broke == kBreakShortBody ? "cut: " : "too long: ");
        AddNumber(text, report.bytes);
        Add(text, " bytes where ");
        AddNumber(text, report.announced);
        Add(text, " were announced");
        return;
    case kBreakTooLarge:
        Add(text, "larger than any package: given up after ");
        AddNumber(text, report.bytes);
        Add(text, " bytes");
        return;
    case kBreakTooSlow:
        // The limit the engine was built with (a minute unless set).
        Add(text, "too slow: less than 1024 bytes in ");
        AddNumber(text, PATCHER_PROGRESS_WINDOW_MS / 1000);
        Add(text, " s, after ");
        AddNumber(text, report.bytes);
        Add(text, " bytes");
        return;
    case kBreakWriteFailed: Add(text, "the file could not be written whole"); return;
    case kBreakNone: break;
    }
    if (report.status >= 400) {
        Add(text, "error page: HTTP ");
        AddNumber(text, report.status);
        if (report.status == 404)
            Add(text, ", no file under this exact name (case included)");
    } else if (facts.signInPage) {
        Add(text, "a page of the sign-in service that leads nowhere");
    } else if (facts.fileSize == 0) {
        Add(text, "no bytes");
    } else {
        Add(text, "too small: ");
        AddNumber(text, facts.fileSize);
        Add(text, " bytes, not a package");
    }
}

template <size_t N>
void AddRoute(char (&text)[N], const DownloadReport& report)
{
    if (report.fetches <= 1) {
        Add(text, "direct");
    } else {
        Add(text, "sign-in pages (");
        AddNumber(text, static_cast<unsigned long long>(report.fetches - 1));
        Add(text, report.fetches == 2 ? " follow-up fetch)" : " follow-up fetches)");
    }
    Add(text, ", ");
    AddNumber(text, static_cast<unsigned long long>(report.redirects));
    Add(text, report.redirects == 1 ? " redirect" : " redirects");
    // Where the PCs' own TLS must make a secure channel.
    if (report.secureHosts[0] != '\0') {
        Add(text, ", HTTPS at ");
        Add(text, report.secureHosts);
        if (report.moreSecureHosts)
            Add(text, " and more");
    }
}

template <size_t N>
void AddBytes(char (&text)[N], const PackageFacts& facts)
{
    if (facts.report.status == 0) {
        Add(text, "no answer");
        return;
    }
    AddNumber(text, facts.report.bytes);
    Add(text, " bytes");
    if (facts.report.lengthAnnounced)
        Add(text, ", length announced");
    else if (facts.pinnedRelease)
        Add(text, ", NO LENGTH announced (warning: only the pin would catch a cut)");
    else
        Add(text, ", NO LENGTH announced (warning: a cut would go unseen)");
}

// Seconds to a tenth, and the body's rate in KB/s.
template <size_t N>
void AddTime(char (&text)[N], const PackageFacts& facts)
{
    unsigned long ms = facts.milliseconds;
    AddNumber(text, ms / 1000);
    Add(text, ".");
    AddNumber(text, ms % 1000 / 100);
    Add(text, " s, ");
    unsigned long long bytes = facts.report.bytes;
    AddNumber(text, bytes * 1000 / (ms == 0 ? 1 : ms) / 1024);
    Add(text, " KB/s");
}

} // namespace

Verdict JudgePackage(const PackageFacts& facts)
{
    if (!facts.fileExists)
        return kVerdictUnableToRun;
    if (facts.fileSize <= kSmallestPackage)
        return kVerdictUnableToDownload;
    if (facts.pinnedRelease &&
        (facts.pinned[0] == '\0' || std::strcmp(facts.found, facts.pinned) != 0))
        return kVerdictRefused;
    return kVerdictRuns;
}

bool IsUnsized(const PackageFacts& facts)
{
    return facts.report.status != 0 && !facts.report.lengthAnnounced;
}

bool IsUnanswered(const PackageFacts& facts)
{
    const DownloadReport& report = facts.report;
    return report.fetches == 1 && report.redirects == 0 && report.broke == kBreakNoAnswer &&
           (report.lastError == kCannotConnect || report.lastError == kNameNotResolved ||
            IsTimeout(report.lastError));
}

void FormatCheckLine(const PackageFacts& facts, char (&line)[kCheckLineArea])
{
    line[0] = '\0';
    Add(line, facts.windows);
    Add(line, " | ");
    Add(line, facts.package);
    Add(line, " | ");
    AddRoute(line, facts.report);
    Add(line, " | ");
    AddBytes(line, facts);
    Add(line, " | ");
    AddTime(line, facts);
    Add(line, " | ");
    char verdict[kPartArea] = "";
    switch (JudgePackage(facts)) {
    case kVerdictRuns:
        Add(verdict, facts.pinnedRelease ? "runs (SHA-256 as pinned)"
                                         : "runs (unpinned release: not compared)");
        break;
    case kVerdictRefused:
        Add(verdict, "refused (SHA-256 found ");
        Add(verdict, facts.found[0] ? facts.found : "none: unreadable");
        Add(verdict, ", pinned ");
        Add(verdict, facts.pinned[0] ? facts.pinned : "none");
        if (facts.report.status != 200) {
            Add(verdict, ", HTTP ");
            AddNumber(verdict, facts.report.status);
        }
        Add(verdict, ")");
        break;
    case kVerdictUnableToDownload:
        Add(verdict, "\"unable to download\" (");
        AddUnableReason(verdict, facts);
        Add(verdict, ")");
        break;
    case kVerdictUnableToRun: Add(verdict, "\"unable to run\" (no file was saved)"); break;
    }
    Add(line, verdict);
}

void FormatSummary(int running, int checked, int unsized, bool pinnedRelease, const char* failing,
                   char (&line)[kCheckLineArea])
{
    line[0] = '\0';
    Add(line, "summary: ");
    AddNumber(line, static_cast<unsigned long long>(running));
    Add(line, " of ");
    AddNumber(line, static_cast<unsigned long long>(checked));
    Add(line, pinnedRelease ? " pinned packages would run" : " packages would run");
    if (failing[0] != '\0') {
        Add(line, "; not on: ");
        Add(line, failing);
    }
    if (unsized > 0) {
        Add(line, "; ");
        AddNumber(line, static_cast<unsigned long long>(unsized));
        Add(line, " came with no length (warning)");
    }
}

void FormatPcLine(const char* description, const char* language, const char* windows,
                  const char* package, PcPackage state, char (&line)[kCheckLineArea],
                  const char* wanted)
{
    line[0] = '\0';
    Add(line, "this PC runs ");
    Add(line, description[0] ? description : "a Windows the program does not recognise");
    if (language[0]) {
        Add(line, " in ");
        Add(line, language);
    }
    if (state == kPcNoPackage) {
        Add(line, ": the program has no package for it and says \"Update Not Required\"");
        return;
    }
    Add(line, " and gets ");
    Add(line, package);
    switch (state) {
    case kPcPackageChecked:
        Add(line, ": read the line \"");
        Add(line, windows);
        Add(line, " | ");
        Add(line, package);
        Add(line, "\" below");
        break;
    case kPcPackageNotChecked: Add(line, ": not checked in this run"); break;
    case kPcPackageNotPinned:
        Add(line, ": not in this release (the program refuses any download there)");
        break;
    case kPcNoPackage: break;
    }
    if (!wanted)
        return;
    Add(line, "; ");
    Add(line, package);
    Add(line, " is the English package, which refuses to install on a Windows in another "
              "language: ");
    if (wanted[0]) {
        Add(line, "this release holds no ");
        Add(line, wanted);
        Add(line, " (put it in the package folder, publish it and release again)");
    } else {
        Add(line, "the program asks for no other language's package on this Windows");
    }
}
