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

enum FetchOutcome {
    kNoFile,    // the target file could not be opened
    kNoSession, // the internet session could not be opened
    kNoUrl,     // the URL could not be opened (or no chunk buffer)
    kFetched    // the transfer ran, to its end or to a failed read
};

struct Transfer {
    const char* targetPath;
    const char* fileName;
    void* instance;
    ProgressCallback progress;
    unsigned total; // runs on across the follow-up fetches
};

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

// A GET of the URL, sent, as InternetOpenUrlA would make it, but through a
// connection handle of our own: the silence limit set there reaches the
// request on Windows and on Wine alike, while Wine leaves a request made by
// InternetOpenUrlA without any limit and waits on a silent server for good.
HINTERNET OpenWebRequest(HINTERNET session, const char* url, HINTERNET& connection)
{
    connection = nullptr;
    WebAddress address;
    if (!CrackWebAddress(url, address))
        return nullptr;
    connection = InternetConnectA(session, address.host, address.port,
                                  address.user[0] ? address.user : nullptr,
                                  address.password[0] ? address.password : nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection)
        return nullptr;
    DWORD limit = kSilenceLimitMs;
    InternetSetOptionA(connection, INTERNET_OPTION_CONNECT_TIMEOUT, &limit, sizeof limit);
    InternetSetOptionA(connection, INTERNET_OPTION_SEND_TIMEOUT, &limit, sizeof limit);
    InternetSetOptionA(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof limit);
    const char* accept[] = {"*/*", nullptr};
    // Redirects between http and https are followed without asking, as the
    // sign-in service's are.
    DWORD flags = INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                  (address.secure ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request = HttpOpenRequestA(connection, nullptr, address.object, nullptr, nullptr,
                                         accept, flags, 0);
    if (request && !HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
        InternetCloseHandle(request);
        request = nullptr;
    }
    if (!request) {
        InternetCloseHandle(connection);
        connection = nullptr;
    }
    return request;
}

// WinINet ends a body cut off by the server as if it were whole; only the
// length the server announced tells the two apart.
bool IsWholeBody(HINTERNET request, unsigned fetched)
{
    DWORD announced = 0;
    DWORD size = sizeof announced;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                        &size, nullptr))
        return true;
    return announced == fetched;
}

// One fetch: the answer to one URL, whatever its status, into the file. A
// body that broke off (a failed read, a cut, a server that never stops) is
// not left behind: the file is emptied, so that the run reports a failed
// download instead of running part of a package.
FetchOutcome Fetch(Transfer& transfer, const char* url)
{
    FILE* file = std::fopen(transfer.targetPath, "wb");
    if (!file)
        return kNoFile;
    char* chunk = static_cast<char*>(std::malloc(kChunk));
    FetchOutcome outcome = kNoSession;
    // WinINet is delay-loaded, and its helper raises an exception when the
    // DLL is missing; loading it here first makes that a session that
    // cannot be opened. Our reference is dropped below: the helper holds its
    // own from the first call on, so this costs a count, not a reload.
    HMODULE wininet = LoadLibraryA("wininet.dll");
    HINTERNET session = wininet ? InternetOpenA("InetURL/1.0", INTERNET_OPEN_TYPE_PRECONFIG,
                                                nullptr, nullptr, 0)
                                : nullptr;
    if (session) {
        HINTERNET connection = nullptr;
        HINTERNET request = chunk ? OpenWebRequest(session, url, connection) : nullptr;
        if (request) {
            char progressText[kProgressArea];
            DWORD got = 0;
            unsigned fetched = 0;
            bool whole = true;
            for (;;) {
                if (!InternetReadFile(request, chunk, kChunk, &got)) {
                    whole = false;
                    break;
                }
                if (got == 0) {
                    whole = IsWholeBody(request, fetched);
                    break;
                }
                if (got > kLargestPackage - fetched) {
                    whole = false;
                    break;
                }
                fetched += got;
                if (std::fwrite(chunk, got, 1, file) != 1) {
                    whole = false;
                    break;
                }
                transfer.total += got;
                // NOLINTNEXTLINE(cert-err33-c): a progress line cut short is harmless
                std::snprintf(progressText, sizeof progressText, "%u Bytes read (%s)",
                              transfer.total, transfer.fileName);
                transfer.progress(transfer.instance, progressText);
            }
            // Bytes the disk did not take are a body that broke off too.
            if (whole && std::fflush(file) != 0)
                whole = false;
            if (!whole) {
                std::fclose(file); // NOLINT(cert-err33-c): emptied on the next line
                file = std::fopen(transfer.targetPath, "wb");
            }
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
    if (file)
        std::fclose(file); // NOLINT(cert-err33-c): flushed and checked above, or empty
    std::free(chunk);
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
                            ProgressCallback progress)
{
    char fileName[kFileNameArea] = "";
    int lastBackslash = FindLastTextNoCase(targetPath, "\\");
    if (lastBackslash != 0)
        CopyTail(targetPath, fileName,
                 static_cast<int>(std::strlen(targetPath)) - lastBackslash - 1);
    if (!progress)
        return 0;

    Transfer transfer = {targetPath, fileName, instance, progress, 0};
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
