// The small status window shown during the download: a title window with
// one status line. No message loop runs; each change is painted at once.
#pragma once

#include "../common/platform.h"

void OpenStatusWindow(HINSTANCE instance, const char* title);

// The progress callback the program gives the download: replaces the
// status line with a new one showing the text; an empty text is ignored.
int ShowStatus(void* instance, const char* text);

void CloseStatusWindow();

// The current windows, for checks of what the user sees.
HWND StatusTitleWindow();
HWND StatusLineWindow();
