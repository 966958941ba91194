#include "download_engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/fixed_text.h"
#include "../common/platform.h"
#include "site_settings.h"

#include <wininet.h>
#include "signin_page.h"
#include "text_search.h"
#include "wininet_loading.h"

namespace {

constexpr size_t kChunk = 1024;
constexpr size_t kFileNameArea = 260;
constexpr size_t kProgressArea = 4096;
constexpr size_t kNameArea = 256;
// Windows' own limits on a silent server run up to an hour, depending on
// the Internet Explorer installed; half a minute of silence ends a fetch.
constexpr DWORD kSilenceLimitMs = 30000;
// No update package comes near this; a body that runs past it (a server
// that never stops sending) is not the package, and the file is emptied so
// that the run reports a failed download instead of filling the disk.
constexpr unsigned kLargestPackage = PATCHER_LARGEST_PACKAGE;
// Browsers give up after about 20 redirects; a server that sends more (to
// itself, or down an endless chain) is misconfigured, and its URL counts as
// one that could not be opened.
constexpr int kMostRedirects = 20;
// A link that brings less than this in a minute makes no real progress: a
// 28.8k modem brings some 180 KB, while a server that dribbles a byte every
// few seconds never falls silent long enough for the silence limit.
constexpr unsigned kLeastProgressBytes = 1024;
constexpr DWORD kProgressWindowMs = PATCHER_PROGRESS_WINDOW_MS; // a minute, unless set

enum FetchOutcome {
    kNoFile,    // the target file could not be opened
    kNoSession, // the internet session could not be opened
    kNoUrl,     // the URL could not be opened (or no chunk buffer)
    kFetched    // the transfer ran, to its end or to a failed read
};

struct Transfer {
    const char* targetPath;
    void* instance;
    ProgressCallback progress;
    unsigned total; // runs on across the follow-up fetches
    // The progress line is "%u Bytes read (%s)". All after the count stays
    // the same for the call, so only the count is written per chunk: a
    // formatted print per chunk cost some 8 % of a download under Wine.
    char tail[kFileNameArea + 16];
    size_t tailLength;
    char text[kProgressArea];
    DownloadReport* report; // the caller's, or one nobody reads
};

// Notes why a fetch gave up; false, for the callers that give up with it.
bool Broke(DownloadReport& report, DownloadBreak why, DWORD error = 0)
{
    report.broke = why;
    report.lastError = error;
    return false;
}

// A fetch's own part of the report starts afresh: the file will hold its
// answer, whatever the fetches before it brought.
void BeginFetchReport(DownloadReport& report)
{
    ++report.fetches;
    report.status = 0;
    report.bytes = 0;
    report.lengthAnnounced = false;
    report.announced = 0;
    report.broke = kBreakNone;
    report.lastError = 0;
    report.url[0] = '\0';
}

// The status and announced length of the answer a fetch copies.
void NoteAnswer(DownloadReport& report, HINTERNET request)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size,
                       nullptr))
        report.status = value;
    size = sizeof value;
    report.lengthAnnounced = HttpQueryInfoA(request,
                                            HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                            &value, &size, nullptr) != FALSE;
    report.announced = report.lengthAnnounced ? value : 0;
}

void ReportProgress(Transfer& transfer)
{
    char digits[10]; // an unsigned 32-bit count has at most ten
    int n = 0;
    unsigned rest = transfer.total;
    do {
        digits[n++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    for (int i = 0; i < n; ++i)
        transfer.text[i] = digits[n - 1 - i];
    std::memcpy(transfer.text + n, transfer.tail, transfer.tailLength + 1);
    transfer.progress(transfer.instance, transfer.text);
}

// The parts of a web address that one request needs.
struct WebAddress {
    char host[kNameArea];
    char user[kNameArea];
    char password[kNameArea];
    char object[kFollowUrlArea]; // path and query
    INTERNET_PORT port;
    bool secure;
};

template <size_t N>
bool CopyPart(char (&part)[N], const char* start, DWORD length)
{
    return CopyTextCut(part, N, start ? start : "", start ? length : 0);
}

bool CrackWebAddress(const char* url, WebAddress& address)
{
    URL_COMPONENTSA parts;
    std::memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths without arrays: each part is pointed to in the URL.
    parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(url, 0, 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    address.port = parts.nPort;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    char query[kFollowUrlArea];
    return CopyPart(address.host, parts.lpszHostName, parts.dwHostNameLength) &&
           address.host[0] != '\0' &&
           CopyPart(address.user, parts.lpszUserName, parts.dwUserNameLength) &&
           CopyPart(address.password, parts.lpszPassword, parts.dwPasswordLength) &&
           CopyPart(address.object, parts.lpszUrlPath, parts.dwUrlPathLength) &&
           CopyPart(query, parts.lpszExtraInfo, parts.dwExtraInfoLength) &&
           (address.object[0] != '\0' || CopyText(address.object, "/")) &&
           AppendText(address.object, query);
}

// The limits go on the connection and on each request as well: that a
// request takes over its connection's is documented nowhere for the WinINet
// of older Internet Explorers, while InternetSetOption takes them on any
// handle.
void SetSilenceLimit(HINTERNET handle)
{
    DWORD limit = kSilenceLimitMs;
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &limit, sizeof limit);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &limit, sizeof limit);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof limit);
}

// Adds "host:port" of an https URL to the report's list, once.
void NoteSecureHost(DownloadReport& report, const WebAddress& address)
{
    if (!address.secure)
        return;
    char port[6]; // at most 65535
    int n = 0;
    for (unsigned rest = address.port; n == 0 || rest != 0; rest /= 10)
        port[n++] = static_cast<char>('0' + rest % 10);
    char entry[kNameArea + 8]; // the host, ':' and five digits
    CopyText(entry, address.host);
    size_t at = std::strlen(entry);
    entry[at++] = ':';
    while (n > 0)
        entry[at++] = port[--n];
    entry[at] = '\0';
    // Whole entries only: "a.example:443" is not in "aa.example:443".
    size_t length = std::strlen(entry);
    for (const char* seen = report.secureHosts; (seen = std::strstr(seen, entry)) != nullptr;
         ++seen)
        if ((seen == report.secureHosts || seen[-1] == ' ') &&
            (seen[length] == ',' || seen[length] == '\0'))
            return;
    char piece[sizeof entry + 2];
    JoinText(piece, {report.secureHosts[0] != '\0' ? ", " : "", entry});
    if (!AppendText(report.secureHosts, piece))
        report.moreSecureHosts = true;
}

// A GET of the URL, sent, as InternetOpenUrlA would make it, but through a
// connection handle of our own: the silence limit set there reaches the
// request on Windows and on Wine alike, while Wine leaves a request made by
// InternetOpenUrlA without any limit and waits on a silent server for good.
// Redirects are not followed here (see OpenFollowingRedirects).
HINTERNET OpenWebRequest(HINTERNET session, const char* url, HINTERNET& connection,
                         DownloadReport& report)
{
    connection = nullptr;
    WebAddress address;
    if (!CrackWebAddress(url, address))
        return nullptr;
    NoteSecureHost(report, address);
    connection = InternetConnectA(session, address.host, address.port,
                                  address.user[0] ? address.user : nullptr,
                                  address.password[0] ? address.password : nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection)
        return nullptr;
    SetSilenceLimit(connection);
    const char* accept[] = {"*/*", nullptr};
    // Nothing of the download goes into the user's Internet cache (a whole
    // package, or a page with a ticket link, would outlive the run there),
    // and a copy already in it is used only after the server has said it is
    // current. No "no-cache" goes to proxies, so a site's proxy cache still
    // serves its copy to every PC behind it.
    DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_RESYNCHRONIZE | (address.secure ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request = HttpOpenRequestA(connection, nullptr, address.object, nullptr, nullptr,
                                         accept, flags, 0);
    if (request)
        SetSilenceLimit(request);
    if (request && !HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
        DWORD error = GetLastError(); // why, for a report, past the closes
        InternetCloseHandle(request);
        request = nullptr;
        SetLastError(error);
    }
    if (!request) {
        DWORD error = GetLastError();
        InternetCloseHandle(connection);
        connection = nullptr;
        SetLastError(error);
    }
    return request;
}

enum Hop {
    kAnswer,   // not a redirect: this request brings the answer
    kRedirect, // a redirect to the URL written out
    kRefused   // a redirect that cannot be followed
};

// Where the answer to `from` leads. The Location is resolved against the
// URL it answered; one too long for the follow-up area is refused, never
// cut. A redirect status without a Location is the answer itself.
Hop NextHop(HINTERNET request, const char* from, char (&to)[kFollowUrlArea])
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr) ||
        (status != 301 && status != 302 && status != 303 && status != 307 && status != 308))
        return kAnswer;
    char location[kFollowUrlArea];
    size = sizeof location;
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &size, nullptr))
        return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND ? kAnswer : kRefused;
    if (location[0] == '?') {
        // A new query for the same path, as browsers read it; WinINet's
        // combining would drop the path's last part.
        size_t keep = 0;
        while (from[keep] != '\0' && from[keep] != '?' && from[keep] != '#')
            ++keep;
        return CopyTextCut(to, sizeof to, from, keep) && AppendText(to, location) ? kRedirect
                                                                                  : kRefused;
    }
    DWORD length = sizeof to;
    return InternetCombineUrlA(from, location, to, &length, 0) ? kRedirect : kRefused;
}

// The request that brings the answer to the URL, after at most
// kMostRedirects redirects, across http and https alike. Only web addresses
// are requested (CrackWebAddress), so a redirect elsewhere ends the fetch.
HINTERNET OpenFollowingRedirects(HINTERNET session, const char* url, HINTERNET& connection,
                                 DownloadReport& report)
{
    char current[kFollowUrlArea];
    if (!CopyText(current, url)) {
        Broke(report, kBreakNoAddress);
        return nullptr;
    }
    for (int redirects = 0;; ++redirects) {
        CopyText(report.url, current);
        HINTERNET request = OpenWebRequest(session, current, connection, report);
        if (!request) {
            DWORD error = GetLastError();
            WebAddress address;
            Broke(report, CrackWebAddress(current, address) ? kBreakNoAnswer : kBreakNoAddress,
                  error);
            return nullptr;
        }
        char next[kFollowUrlArea];
        Hop hop = NextHop(request, current, next);
        if (hop == kAnswer) {
            NoteAnswer(report, request);
            return request;
        }
        InternetCloseHandle(request);
        InternetCloseHandle(connection);
        connection = nullptr;
        if (hop == kRefused || redirects == kMostRedirects) {
            Broke(report, hop == kRefused ? kBreakNoAddress : kBreakRedirectLoop);
            return nullptr;
        }
        ++report.redirects;
        std::memcpy(current, next, sizeof current);
    }
}

// WinINet ends a body cut off by the server as if it were whole; only the
// length the server announced tells the two apart.
bool IsWholeBody(HINTERNET request, unsigned fetched, DownloadReport& report)
{
    DWORD announced = 0;
    DWORD size = sizeof announced;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                        &size, nullptr))
        return true;
    return announced == fetched ||
           Broke(report, fetched < announced ? kBreakShortBody : kBreakLongBody);
}

// Copies the body into the file. False when it broke off: a failed read, a
// chunk not written whole (a full disk), fewer or more bytes than announced,
// more than any package, or less than kLeastProgressBytes in a minute.
bool CopyBody(Transfer& transfer, HINTERNET request, char* chunk, FILE* file)
{
    unsigned fetched = 0;
    DWORD ready = 0; // what WinINet said it holds: read without waiting
    DWORD windowStart = GetTickCount();
    unsigned windowBytes = 0;
    DownloadReport& report = *transfer.report;
    for (;;) {
        // Waits until something arrives, where a read of a whole chunk
        // would wait for all 1024 bytes however long they take. Reading
        // what is there also spares WinINet a receive per chunk.
        if (ready == 0 && !InternetQueryDataAvailable(request, &ready, 0, 0))
            return Broke(report, kBreakReadFailed, GetLastError());
        DWORD got = 0;
        DWORD want = ready != 0 && ready < kChunk ? ready : kChunk;
        if (!InternetReadFile(request, chunk, want, &got))
            return Broke(report, kBreakReadFailed, GetLastError());
        if (got == 0)
            return IsWholeBody(request, fetched, report);
        ready = got < ready ? ready - got : 0;
        if (got > kLargestPackage - fetched)
            return Broke(report, kBreakTooLarge);
        if (std::fwrite(chunk, got, 1, file) != 1)
            return Broke(report, kBreakWriteFailed);
        fetched += got;
        report.bytes = fetched;
        transfer.total += got;
        ReportProgress(transfer);
        windowBytes += got;
        DWORD now = GetTickCount();
        if (windowBytes >= kLeastProgressBytes) {
            windowStart = now;
            windowBytes = 0;
        } else if (now - windowStart >= kProgressWindowMs) {
            return Broke(report, kBreakTooSlow);
        }
    }
}

// Leaves the file empty; where it cannot even be opened, it goes, so that
// what broke off is never judged as a package.
void EmptyFile(const char* path)
{
    FILE* file = std::fopen(path, "wb");
    if (!file || std::fclose(file) != 0)
        DeleteFileA(path);
}

// One fetch: the answer to one URL, whatever its status, into the file. A
// body that broke off is not left behind: the file is emptied, so that the
// run reports a failed download instead of running part of a package.
FetchOutcome Fetch(Transfer& transfer, const char* url)
{
    BeginFetchReport(*transfer.report);
    FILE* file = std::fopen(transfer.targetPath, "wb");
    if (!file) {
        Broke(*transfer.report, kBreakNoFile);
        return kNoFile;
    }
    char* chunk = static_cast<char*>(std::malloc(kChunk));
    FetchOutcome outcome = kNoSession;
    bool whole = true;
    // WinINet is delay-loaded, and its helper raises an exception when the
    // DLL or a function is missing; loading the system's copy here first,
    // with every function looked up, makes that a session that cannot be
    // opened. Our reference is dropped below: the helper holds its own from
    // the first call on, so this costs a count, not a reload.
    HMODULE wininet = LoadSystemWinInet();
    HINTERNET session = wininet ? InternetOpenA("InetURL/1.0", INTERNET_OPEN_TYPE_PRECONFIG,
                                                nullptr, nullptr, 0)
                                : nullptr;
    if (session) {
        HINTERNET connection = nullptr;
        HINTERNET request = chunk
                                ? OpenFollowingRedirects(session, url, connection, *transfer.report)
                                : nullptr;
        if (request) {
            whole = CopyBody(transfer, request, chunk, file) &&
                    (std::fflush(file) == 0 || Broke(*transfer.report, kBreakWriteFailed));
            InternetCloseHandle(request);
            InternetCloseHandle(connection);
            outcome = kFetched;
        } else {
            outcome = kNoUrl;
        }
        InternetCloseHandle(session);
    }
    if (wininet)
        FreeLibrary(wininet);
    if (std::fclose(file) != 0 || !whole)
        EmptyFile(transfer.targetPath);
    std::free(chunk);
    if (outcome == kNoSession)
        Broke(*transfer.report, kBreakNoSession);
    return outcome;
}

// Only web addresses are followed: the site's pages lead to http or https,
// and anything else (file:, ftp:) would copy something else into the file.
bool IsWebAddress(const char* url)
{
    return FindTextNoCase(url, "http://") == 1 || FindTextNoCase(url, "https://") == 1;
}

bool IsReturnUrlPage(const char* targetPath)
{
    char url[kFollowUrlArea];
    return FindReturnUrl(targetPath, url);
}

} // namespace

unsigned char DownloadPatch(const char* url, const char* targetPath, void* instance,
                            ProgressCallback progress, DownloadReport* report)
{
    DownloadReport unread;
    if (!report)
        report = &unread;
    std::memset(report, 0, sizeof *report);
    char fileName[kFileNameArea] = "";
    int lastBackslash = FindLastTextNoCase(targetPath, "\\");
    if (lastBackslash != 0)
        CopyTail(targetPath, fileName,
                 static_cast<int>(std::strlen(targetPath)) - lastBackslash - 1);
    if (!progress)
        return 0;

    Transfer transfer;
    transfer.targetPath = targetPath;
    transfer.instance = instance;
    transfer.progress = progress;
    transfer.total = 0;
    transfer.report = report;
    JoinText(transfer.tail, {" Bytes read (", fileName, ")"});
    transfer.tailLength = std::strlen(transfer.tail);
    unsigned char result = 0;

    if (Fetch(transfer, url) != kFetched)
        return 0;
    result = 1;

    char followUrl[kFollowUrlArea] = "";
    if (FindSignInRedirect(targetPath, followUrl) && followUrl[0] != '\0' &&
        IsWebAddress(followUrl)) {
        FetchOutcome outcome = Fetch(transfer, followUrl);
        if (outcome == kNoFile)
            return 0;
        if (outcome != kNoSession)
            result = IsReturnUrlPage(targetPath) ? 0 : 1;
    }

    followUrl[0] = '\0';
    if (!FindReturnUrl(targetPath, followUrl))
        return result;
    if (followUrl[0] == '\0' || !IsWebAddress(followUrl))
        return 0;
    FetchOutcome outcome = Fetch(transfer, followUrl);
    if (outcome == kNoFile)
        return 0;
    if (outcome == kNoSession)
        return result;
    return IsReturnUrlPage(targetPath) ? 0 : 1;
}
