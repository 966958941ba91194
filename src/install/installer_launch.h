// Running the update package, and the system's text for a failure.
#pragma once

#include <cstddef>

constexpr size_t kSystemTextArea = 1024;
// "Unable to run the program: " + 259-character path + " Error Message: "
// + 1023-character system text + terminator.
constexpr size_t kLaunchErrorArea = 1326;
// The quoted path the package is started with.
constexpr size_t kLaunchCommandArea = 1024;

// Every byte outside printable 7-bit ASCII becomes NUL; the length is taken
// once, so the visible text ends at the first such byte.
void StripControlChars(char* text);

// Signed decimal, as _itoa writes it; `text` holds at least 12 bytes.
void IntToDecimalText(int value, char* text);

#ifdef _WIN32
#include "../common/platform.h"

// The system's message for the calling thread's last error, cut to fit and
// stripped; the decimal code when the system has no text for it.
void FormatLastError(char (&text)[kSystemTextArea]);

// Starts the package by its full path, with its quoted path as the whole
// command line; with `wait` set, returns only when it has ended. On failure
// the error text explains, naming the path as given. `heldFile`, the
// package file held open for its checks (or INVALID_HANDLE_VALUE), is
// always closed before the return. On the NT family, with `wait`, it stays
// open until the package has ended, so that nobody renames or replaces the
// file the package reads itself from while it runs (without `wait`, until
// the start has returned). On Windows 95, 98 and Me, which protect no file
// from anyone, it is let go just before the start.
bool LaunchInstaller(const char* packagePath, bool wait, char (&errorText)[kLaunchErrorArea],
                     HANDLE heldFile = INVALID_HANDLE_VALUE);
#endif
