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
// Windows' own limits on a silent server run up to an hour, depending on
// the Internet Explorer installed; half a minute of silence ends a fetch
// there. (Wine 8 ignores these options for InternetOpenUrlA and waits.)
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

// One fetch: the answer to one URL, whatever its status, into the file.
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
        DWORD limit = kSilenceLimitMs;
        InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &limit, sizeof limit);
        InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &limit, sizeof limit);
        InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof limit);
        HINTERNET request = chunk ? InternetOpenUrlA(session, url, nullptr, 0, 0, 0) : nullptr;
        if (request) {
            char progressText[kProgressArea];
            DWORD got = 0;
            unsigned fetched = 0;
            while (InternetReadFile(request, chunk, kChunk, &got) && got > 0) {
                if (got > kLargestPackage - fetched) {
                    std::fclose(file);
                    file = std::fopen(transfer.targetPath, "wb");
                    break;
                }
                fetched += got;
                std::fwrite(chunk, got, 1, file);
                transfer.total += got;
                std::snprintf(progressText, sizeof progressText, "%u Bytes read (%s)",
                              transfer.total, transfer.fileName);
                transfer.progress(transfer.instance, progressText);
            }
            InternetCloseHandle(request);
            outcome = kFetched;
        } else {
            outcome = kNoUrl;
        }
        InternetCloseHandle(session);
    }
    if (wininet)
        FreeLibrary(wininet);
    if (file)
        std::fclose(file);
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
