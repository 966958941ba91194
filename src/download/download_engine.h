// Brings the package from the patch server into the target file, following
// the web sign-in pages when the server answers with one.
#pragma once

#include <cstddef>

// Called once per chunk received, after it is written; the text is valid
// only during the call. The result is ignored.
typedef int (*ProgressCallback)(void* instance, const char* text);

// Why the last fetch left no whole body in the file.
enum DownloadBreak {
    kBreakNone,         // the body arrived whole (or no fetch was made)
    kBreakNoFile,       // the target file could not be opened
    kBreakNoSession,    // WinINet could not be loaded or opened
    kBreakNoAnswer,     // no answer to a request (lastError says why)
    kBreakRedirectLoop, // a redirect past the most the engine follows
    kBreakNoAddress,    // a URL or redirect that no request can go to
    kBreakReadFailed,   // a read failed in the body (lastError says why)
    kBreakShortBody,    // fewer bytes than the server announced
    kBreakLongBody,     // more bytes than the server announced
    kBreakTooLarge,     // past the largest package
    kBreakTooSlow,      // too little in a minute
    kBreakWriteFailed   // a chunk not written whole
};

constexpr size_t kReportUrlArea = 4096;
// "host:port, host:port": room for a few host names of any length.
constexpr size_t kSecureHostsArea = 1024;

// What the engine saw of one download, for a caller that reports on a site
// rather than runs a package. The counts run over the whole call; the rest
// describes its last fetch, whose answer is what the file holds.
struct DownloadReport {
    int fetches;             // 1, plus one per follow-up through the sign-in pages
    int redirects;           // followed, over all fetches
    unsigned long status;    // HTTP status of the last answer; 0 when none came
    unsigned bytes;          // body bytes the last fetch received
    bool lengthAnnounced;    // the last answer carried a Content-Length
    unsigned long announced; // and this was it
    DownloadBreak broke;
    unsigned long lastError;  // WinINet's error behind the break; 0 when none
    char url[kReportUrlArea]; // the last URL requested; empty when too long
    // Every host the call reached over HTTPS (the sign-in service, a redirect
    // to https), in the order first asked, each once: whether the PCs can
    // make a secure channel there is their own TLS's to say.
    char secureHosts[kSecureHostsArea];
    bool moreSecureHosts; // one more did not fit in the list
};

// 1 or 0 as an advisory result; the caller judges the download by the file.
// Without a callback nothing is fetched and the target file is untouched.
// With a report, the engine fills it in as it goes; it fetches the same way.
unsigned char DownloadPatch(const char* url, const char* targetPath, void* instance,
                            ProgressCallback progress, DownloadReport* report = nullptr);
