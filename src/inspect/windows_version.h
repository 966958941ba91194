// Which Windows runs here: a code that picks the update package, and a
// line of text for the title of the status window.
//
// Codes: 0 unrecognised, 1 Win32s, 2 Windows 95, 3 Windows 98, 4 NT 3.x,
// 5 NT 4.0 (and any NT with a major version above 5), 6 Windows Me,
// 7 Windows 2000, 8 Windows XP, 9 Windows Server 2003.
#pragma once

#include <cstddef>

#include "../common/platform.h"

constexpr size_t kVersionTextArea = 256;

// Code and text for a version record; ClassifyWindowsVersion applies it to
// what GetVersionExA reports now.
int DescribeWindowsVersion(const OSVERSIONINFOA& record, char (&description)[kVersionTextArea]);

#ifdef _WIN32
OSVERSIONINFOA GetOsVersionInfo();
int ClassifyWindowsVersion(char (&description)[kVersionTextArea]);
#endif
