// The status window as the user sees it: one title window, one status line.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "run/status_window.h"

namespace {

std::string TextOf(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK CountChild(HWND, LPARAM counter)
{
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int ChildCount(HWND parent)
{
    int count = 0;
    EnumChildWindows(parent, CountChild, reinterpret_cast<LPARAM>(&count));
    return count;
}

} // namespace

TEST(StatusWindow, TitleWindowProperties)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    OpenStatusWindow(instance, "KB835732 Patcher Windows Version: test");
    HWND title = StatusTitleWindow();
    ASSERT_NE(nullptr, title);
    char className[32];
    GetClassNameA(title, className, sizeof className);
    EXPECT_STREQ("Static", className);
    EXPECT_EQ("KB835732 Patcher Windows Version: test", TextOf(title));
    RECT r;
    GetWindowRect(title, &r);
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(600, r.right - r.left);
    EXPECT_EQ(50, r.bottom - r.top);
    EXPECT_EQ(nullptr, GetParent(title));
    EXPECT_EQ(0, ChildCount(title)); // no status text yet
    CloseStatusWindow();
    EXPECT_FALSE(IsWindow(title));
}

TEST(StatusWindow, EachReportReplacesTheStatusLine)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    OpenStatusWindow(instance, "title");
    HWND title = StatusTitleWindow();
    for (int i = 1; i <= 50; ++i) {
        std::string text = std::to_string(i * 1024) + " Bytes read (x.exe)";
        ShowStatus(instance, text.c_str());
    }
    EXPECT_EQ(1, ChildCount(title));
    HWND line = StatusLineWindow();
    EXPECT_EQ("51200 Bytes read (x.exe)", TextOf(line));
    EXPECT_EQ(WS_CHILD | WS_VISIBLE,
              GetWindowLongA(line, GWL_STYLE) & (WS_CHILD | WS_VISIBLE | WS_POPUP));
    ShowStatus(instance, "");
    EXPECT_EQ(line, StatusLineWindow());
    EXPECT_EQ("51200 Bytes read (x.exe)", TextOf(line));
    CloseStatusWindow();
    EXPECT_FALSE(IsWindow(line));
    EXPECT_FALSE(IsWindow(title));
}
