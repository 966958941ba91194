#include "status_window.h"

namespace {

HWND g_titleWindow = nullptr;
HWND g_statusLine = nullptr;

} // namespace

void OpenStatusWindow(HINSTANCE instance, const char* title)
{
    g_titleWindow = CreateWindowExA(0, "STATIC", title, 0, 0, 0, 600, 50, nullptr, nullptr,
                                    instance, nullptr);
    ShowWindow(g_titleWindow, SW_SHOWNORMAL);
    ShowWindow(g_titleWindow, SW_SHOWNOACTIVATE);
    UpdateWindow(g_titleWindow);
}

int ShowStatus(void* instance, const char* text)
{
    if (text[0] == '\0')
        return 0;
    if (g_statusLine)
        DestroyWindow(g_statusLine);
    g_statusLine = CreateWindowExA(0, "STATIC", text, WS_CHILD, 0, 0, 600, 50, g_titleWindow,
                                   nullptr, static_cast<HINSTANCE>(instance), nullptr);
    if (!g_titleWindow)
        return 0;
    ShowWindow(g_statusLine, SW_SHOWNORMAL);
    ShowWindow(g_statusLine, SW_SHOWNOACTIVATE);
    UpdateWindow(g_statusLine);
    return 1;
}

void CloseStatusWindow()
{
    if (g_statusLine)
        DestroyWindow(g_statusLine);
    if (g_titleWindow)
        DestroyWindow(g_titleWindow);
    // Forget both, so a later window cannot be destroyed through a handle
    // value that Windows has since given to another window.
    g_statusLine = nullptr;
    g_titleWindow = nullptr;
}

HWND StatusTitleWindow()
{
    return g_titleWindow;
}

HWND StatusLineWindow()
{
    return g_statusLine;
}
