// Path and file helpers over the ANSI file interface. Paths live in
// 260-byte arrays (at most 259 characters).
#pragma once

#include <cstddef>

#include "../common/platform.h"

constexpr size_t kMaxPathArea = 260;

// The directory part of a program path, without its closing backslash and
// without a leading double quote.
void GetProgramDirectory(const char* programPath, char (&directory)[kMaxPathArea]);

// Appends a backslash unless the text already ends in one; false (text
// unchanged) when there is no room.
bool EnsureTrailingBackslashBounded(char* directory, size_t capacity);

template <size_t N>
inline bool EnsureTrailingBackslash(char (&directory)[N])
{
    return EnsureTrailingBackslashBounded(directory, N);
}

#ifdef _WIN32
// False, with the empty text, when the path is unavailable or would not
// fit in 260 bytes.
bool GetProgramPath(char (&programPath)[kMaxPathArea]);
bool GetWindowsDirectoryPath(char (&directory)[kMaxPathArea]);

// True when a matching entry that is not a directory exists. With a `*`
// in the pattern the first match is skipped and at most 1000 more looked at.
bool FileExists(const char* pathOrPattern);

// Opens the downloaded package to be checked and run, or gives
// INVALID_HANDLE_VALUE. It must be a file this run may write, as the
// download's own is: not one standing in its place that is read-only or held
// by another program, which the download could not have replaced. While the
// handle is open, others may read the file but not write, rename, replace
// or delete it, so the file that is checked is the file that runs.
HANDLE HoldPackageFile(const char* path);

// The held file's length; false when unknown or 4 GB or more.
bool GetHeldFileSize(HANDLE file, unsigned long& size);
#endif
