// The site check's verdict on one package and its line of the table. A
// download is judged as the program judges it: the file must exist, be
// longer than 100000 bytes and, in a pinned release, match its pin; the
// verdict names what the program's users would meet.
#pragma once

#include <cstddef>

#include "../download/download_engine.h"

constexpr size_t kDigestTextArea = 65;
constexpr size_t kCheckLineArea = 2048;

// What the check saw of one package.
struct PackageFacts {
    const char* windows; // who gets the package
    const char* package;
    DownloadReport report;
    unsigned long milliseconds; // the whole download, follow-ups included
    bool fileExists;
    unsigned long fileSize;
    bool signInPage;              // the file is a page of the sign-in service
    char found[kDigestTextArea];  // the file's SHA-256; empty when unreadable
    bool pinnedRelease;           // the release runs only pinned packages
    char pinned[kDigestTextArea]; // this package's pin; empty when none
};

enum Verdict {
    kVerdictRuns,
    kVerdictRefused,          // package-sized, but not the pinned file
    kVerdictUnableToDownload, // the users' box says "unable to download"
    kVerdictUnableToRun       // no file at all: the box says "unable to run"
};

Verdict JudgePackage(const PackageFacts& facts);

// A body that came with no length: a cut would pass for a whole one, and
// only a pin catches it.
bool IsUnsized(const PackageFacts& facts);

// The patch server gave the first request no answer at all (no connection,
// no such host, silence): nothing can be checked until it does.
bool IsUnanswered(const PackageFacts& facts);

// "Windows | package | route | bytes | time and rate | verdict".
void FormatCheckLine(const PackageFacts& facts, char (&line)[kCheckLineArea]);

// What this run tells of the package the PC's own Windows gets.
enum PcPackage {
    kPcPackageChecked,    // its line is in the table
    kPcPackageNotChecked, // the release pins it, but this run checks only others
    kPcPackageNotPinned,  // a pinned release without it: any download is refused
    kPcNoPackage          // none: the program says "Update Not Required"
};

// "this PC runs DESCRIPTION in LANGUAGE and gets PACKAGE: " and where to
// read on. The description is the program's own (ClassifyWindowsVersion),
// empty for a Windows it does not recognise; the language ("German (DEU)")
// is empty where Windows does not tell it; `windows` names the package's
// table line. With `wanted`, the package is the English one on a Windows
// in another language, which it refuses: the line says so, and names the
// package that would serve (empty when the program asks for none).
void FormatPcLine(const char* description, const char* language, const char* windows,
                  const char* package, PcPackage state, char (&line)[kCheckLineArea],
                  const char* wanted = nullptr);

// "summary: R of N [pinned ]packages would run", then "; not on: " and the
// Windows in `failing`, then how many came with no length.
void FormatSummary(int running, int checked, int unsized, bool pinnedRelease, const char* failing,
                   char (&line)[kCheckLineArea]);
