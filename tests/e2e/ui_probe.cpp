// Starts a program in the Wine prefix and plays its user: every message box
// it shows is recorded (caption, exact texts, buttons, icon, default button,
// topmost, owner) and answered as told; its status window is sampled while
// it runs. Afterwards the restart deletions that Windows keeps are reported.
//
//   ui_probe --log FILE [--answer OK|CANCEL]... [--timeout S]
//            [--create-key KEY] [--delete-key KEY] [--set-sz KEY NAME VALUE]
//            [--set-multi-sz KEY NAME A|B] [--delete-value KEY NAME]
//            [--screenshots DIR] [--clear-deferred] [--second-after MS]
//            [--proxy HOST:PORT] [--hold FILE] -- PROGRAM
//
// With --second-after, a second copy of the program is started that many
// milliseconds after the first, as by a double click too many; its boxes
// are answered the same way and its exit code is logged as "second-exit".
// The user's proxy (the Internet Settings that WinINet's preconfigured
// access reads) is set to --proxy, or turned off without it, for every run.
// With --hold, FILE is held open for reading, shared for reading only, from
// before the program starts until it has ended (logged as "hold").
// Registry keys are under HKEY_LOCAL_MACHINE and are set before the program
// starts (Windows reads the product type when a process starts). The log
// holds one JSON object per line. Exit code: the program's, or 3 when it had
// to be ended after the timeout, or 4 when it could not be started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE* g_log = nullptr;
std::string g_screenshots;
int g_shotCount = 0;

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void Log(const std::string& line)
{
    std::fprintf(g_log, "%s\n", line.c_str());
    std::fflush(g_log);
}

std::string WindowText(HWND window)
{
    char text[8192];
    int n = GetWindowTextA(window, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

std::string ClassOf(HWND window)
{
    char name[64];
    int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

// Whether a picture is one colour all over: the screen before anything of
// the program has reached it, which is no picture of the program.
bool IsBlank(const unsigned char* bits, DWORD size)
{
    for (DWORD i = 3; i < size; ++i)
        if (bits[i] != bits[i % 3])
            return false;
    return true;
}

// The screen as a 24-bit bottom-up BMP; the driver turns it into PNG. The
// log says what it shows ("of": the box's caption, the status line) and
// whether it was saved whole. A blank screen is looked at again for up to
// 2 s, as the program's windows reach the X server in their own time.
void SaveScreenshot(const char* what, const std::string& of)
{
    if (g_screenshots.empty())
        return;
    bool saved = false;
    bool blank = true;
    char name[32];
    std::snprintf(name, sizeof name, "%02d-%s.bmp", ++g_shotCount, what);
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        DWORD stride = ((width * 3 + 3) / 4) * 4;
        DWORD imageSize = stride * height;
        for (int look = 0; look < 20 && blank; ++look) {
            if (look > 0)
                Sleep(100);
            HGDIOBJ old = SelectObject(memory, bitmap);
            bool copied = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
            SelectObject(memory, old);
            GdiFlush();
            blank = !copied || IsBlank(static_cast<const unsigned char*>(bits), imageSize);
        }
        BITMAPFILEHEADER file;
        std::memset(&file, 0, sizeof file);
        file.bfType = 0x4d42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        std::string path = g_screenshots + "\\" + name;
        if (FILE* out = std::fopen(path.c_str(), "wb")) {
            saved = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                    std::fwrite(bits, imageSize, 1, out) == 1;
            saved = std::fclose(out) == 0 && saved && !blank;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    Log(std::string("{\"event\": \"screenshot\", \"what\": \"") + what + "\", \"of\": " + Json(of) +
        ", \"file\": " + Json(name) + ", \"saved\": " + (saved ? "true" : "false") +
        ", \"blank\": " + (blank ? "true" : "false") + "}");
}

struct BoxParts {
    std::string text;
    std::vector<std::string> buttons;
    std::vector<int> buttonIds;
    HWND icon = nullptr;
};

BOOL CALLBACK CollectPart(HWND child, LPARAM context)
{
    BoxParts& parts = *reinterpret_cast<BoxParts*>(context);
    std::string kind = ClassOf(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(kind.c_str(), "Button") == 0) {
        if (style & WS_VISIBLE) {
            parts.buttons.push_back(WindowText(child));
            parts.buttonIds.push_back(GetDlgCtrlID(child));
        }
    } else if (lstrcmpiA(kind.c_str(), "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON)
            parts.icon = child;
        else if (parts.text.empty())
            parts.text = WindowText(child);
    }
    return TRUE;
}

// 32 by 32 pixels as 24-bit rows, from the screen or from an icon drawn on
// the dialog colour; icon handles of another process cannot be compared.
std::vector<unsigned char> Pixels(HDC source, int x, int y, HICON icon)
{
    std::vector<unsigned char> pixels(32 * 32 * 3);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 32;
    info.bmiHeader.biHeight = 32;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (icon) {
            RECT all = {0, 0, 32, 32};
            HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_3DFACE));
            FillRect(memory, &all, face);
            DeleteObject(face);
            DrawIconEx(memory, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
        } else {
            BitBlt(memory, 0, 0, 32, 32, source, x, y, SRCCOPY);
        }
        GdiFlush();
        std::memcpy(pixels.data(), bits, pixels.size());
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Which standard icon the box shows, by its pixels on the screen.
std::string IconName(HWND iconControl)
{
    if (!iconControl)
        return "none";
    RECT r;
    if (!GetWindowRect(iconControl, &r))
        return "other";
    HDC screen = GetDC(nullptr);
    std::vector<unsigned char> shown = Pixels(screen, r.left, r.top, nullptr);
    ReleaseDC(nullptr, screen);
    const struct {
        LPCSTR id;
        const char* name;
    } icons[] = {{IDI_HAND, "error"},
                 {IDI_QUESTION, "question"},
                 {IDI_EXCLAMATION, "warning"},
                 {IDI_ASTERISK, "information"}};
    std::string best = "other";
    long bestDifference = 32 * 32 * 3 * 8; // more than this is no match
    for (const auto& i : icons) {
        std::vector<unsigned char> drawn = Pixels(nullptr, 0, 0, LoadIconA(nullptr, i.id));
        long difference = 0;
        for (size_t p = 0; p < drawn.size(); ++p)
            difference += std::abs(static_cast<int>(drawn[p]) - static_cast<int>(shown[p]));
        if (difference < bestDifference) {
            bestDifference = difference;
            best = i.name;
        }
    }
    return best;
}

// The box paints itself in its own time: its icon is read until two looks in
// a row agree on a standard icon (or 10 s pass), not after a fixed wait.
std::string SettledIconName(HWND iconControl)
{
    std::string previous;
    std::string name = IconName(iconControl);
    for (DWORD since = GetTickCount(); GetTickCount() - since < 10000;) {
        if (!iconControl || (name == previous && name != "other"))
            break;
        Sleep(50);
        previous = name;
        name = IconName(iconControl);
    }
    return name;
}

// False when the box cannot be read whole yet (no buttons, no answer to
// DM_GETDEFID) or went away while it was read: look again.
bool RecordAndAnswerBox(HWND box, const char* answer)
{
    BoxParts parts;
    EnumChildWindows(box, CollectPart, reinterpret_cast<LPARAM>(&parts));
    if (parts.buttons.empty())
        return false;
    std::string icon = SettledIconName(parts.icon);
    DWORD_PTR defId = 0;
    if (!SendMessageTimeoutA(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 30000, &defId))
        return false;
    std::string buttons = "[";
    for (size_t i = 0; i < parts.buttons.size(); ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "%d", parts.buttonIds[i]);
        buttons += (i ? ", [" : "[") + Json(parts.buttons[i]) + ", " + id + "]";
    }
    buttons += "]";
    LONG exStyle = GetWindowLongA(box, GWL_EXSTYLE);
    bool owned = GetWindow(box, GW_OWNER) != nullptr;
    std::string caption = WindowText(box);
    // Everything above was read from a live box only if it is still there.
    if (!IsWindow(box) || !IsWindowVisible(box))
        return false;
    char tail[200];
    std::snprintf(tail, sizeof tail,
                  ", \"icon\": \"%s\", \"default\": %d, \"topmost\": %s, \"exstyle\": \"%08lx\", "
                  "\"owned\": %s, \"answer\": \"%s\"}",
                  icon.c_str(), HIWORD(defId) == DC_HASDEFID ? LOWORD(defId) : 0,
                  (exStyle & WS_EX_TOPMOST) ? "true" : "false", static_cast<unsigned long>(exStyle),
                  owned ? "true" : "false", answer);
    Log("{\"event\": \"box\", \"caption\": " + Json(caption) + ", \"text\": " + Json(parts.text) +
        ", \"buttons\": " + buttons + tail);
    SaveScreenshot("box", caption);
    int id = std::strcmp(answer, "CANCEL") == 0 ? IDCANCEL : IDOK;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    return true;
}

// One look at a window of the program that is not a message box. The
// program may destroy the window (or swap its status line) while it is
// read, and a vanished window reads as empty: so the reads count only if
// the window, and the line read, are still there and shown afterwards.
bool SampleWindow(HWND window, const std::string& kind, std::string& sample, std::string& status)
{
    DWORD before = 0;
    GetWindowThreadProcessId(window, &before);
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    LONG style = GetWindowLongA(window, GWL_STYLE);
    std::string title = WindowText(window);
    HWND line = GetWindow(window, GW_CHILD);
    // A line not yet shown may not have its text yet: the user sees none.
    bool lineShown = line && IsWindowVisible(line);
    status = lineShown ? WindowText(line) : "";
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == 0 || owner != before || !IsWindowVisible(window))
        return false;
    if (lineShown && (!IsWindowVisible(line) || GetAncestor(line, GA_PARENT) != window))
        return false;
    char geometry[96];
    std::snprintf(geometry, sizeof geometry,
                  ", \"rect\": [%ld, %ld, %ld, %ld], \"style\": \"%08lx\"}", r.left, r.top,
                  r.right - r.left, r.bottom - r.top, static_cast<unsigned long>(style));
    sample = "{\"event\": \"window\", \"class\": " + Json(kind) + ", \"title\": " + Json(title) +
             ", \"status\": " + Json(status) + geometry;
    return true;
}

struct Scan {
    DWORD processIds[2]; // the program, and its second copy where one runs
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context)
{
    Scan& scan = *reinterpret_cast<Scan*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != 0 && (owner == scan.processIds[0] || owner == scan.processIds[1]) &&
        IsWindowVisible(window))
        scan.windows.push_back(window);
    return TRUE;
}

bool StartProgram(std::string command, const std::string& folder, PROCESS_INFORMATION& process)
{
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return false;
    CloseHandle(process.hThread);
    return true;
}

HKEY CreateKey(const char* path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void SetValue(const char* path, const char* name, DWORD type, const std::string& data)
{
    if (HKEY key = CreateKey(path)) {
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
        RegCloseKey(key);
    }
}

// WinINet's preconfigured access reads these of the user's settings.
void SetUserProxy(const std::string& server)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD enable = server.empty() ? 0 : 1;
    RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                   sizeof enable);
    if (server.empty())
        RegDeleteValueA(key, "ProxyServer");
    else
        RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                       static_cast<DWORD>(server.size() + 1));
    RegCloseKey(key);
}

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

std::string WininitPath()
{
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows, n < sizeof windows ? n : 0) + "\\WININIT.INI";
}

// What Windows is to delete or rename at the next start: the NT list and
// the [rename] section of WININIT.INI.
void ReportDeferred(bool report, bool clear)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) == 0) {
        std::vector<char> data(65536);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                             reinterpret_cast<BYTE*>(data.data()), &size) == 0) {
            std::vector<std::string> items;
            for (DWORD at = 0; at < size && data[at] != '\0';) {
                std::string item(&data[at], strnlen(&data[at], size - at));
                items.push_back(item);
                at += static_cast<DWORD>(item.size()) + 1;
                // An empty target ends a pair as well.
                if (items.size() % 2 == 1 && at < size && data[at] == '\0') {
                    items.push_back("");
                    at += 1;
                }
            }
            for (size_t i = 0; report && i + 1 < items.size(); i += 2)
                Log("{\"event\": \"pending\", \"from\": " + Json(items[i]) +
                    ", \"to\": " + Json(items[i + 1]) + "}");
            if (clear)
                RegDeleteValueA(key, "PendingFileRenameOperations");
        }
        RegCloseKey(key);
    }
    std::string wininit = WininitPath();
    char section[8192];
    DWORD n = GetPrivateProfileSectionA("rename", section, sizeof section, wininit.c_str());
    for (DWORD at = 0; report && at < n && section[at] != '\0';) {
        std::string line(&section[at]);
        // The file the line names, by its long path (the short is Wine's making).
        char named[MAX_PATH];
        DWORD n = GetLongPathNameA(line.substr(line.find('=') + 1).c_str(), named, sizeof named);
        std::string longPath(named, n < sizeof named ? n : 0);
        Log("{\"event\": \"wininit\", \"line\": " + Json(line) + ", \"long\": " + Json(longPath) +
            "}");
        at += static_cast<DWORD>(line.size()) + 1;
    }
    if (clear)
        DeleteFileA(wininit.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const char* logPath = nullptr;
    std::vector<const char*> answers;
    DWORD timeoutMs = 240000;
    bool clearDeferred = false;
    long secondAfterMs = -1;
    std::string proxy;
    const char* holdPath = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        auto more = [&](int n) { return i + n < argc; };
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--log" && more(1)) {
            logPath = argv[++i];
        } else if (a == "--answer" && more(1)) {
            answers.push_back(argv[++i]);
        } else if (a == "--timeout" && more(1)) {
            timeoutMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10)) * 1000;
        } else if (a == "--screenshots" && more(1)) {
            g_screenshots = argv[++i];
        } else if (a == "--second-after" && more(1)) {
            secondAfterMs = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--proxy" && more(1)) {
            proxy = argv[++i];
        } else if (a == "--hold" && more(1)) {
            holdPath = argv[++i];
        } else if (a == "--clear-deferred") {
            clearDeferred = true;
        } else if (a == "--create-key" && more(1)) {
            if (HKEY key = CreateKey(argv[++i]))
                RegCloseKey(key);
        } else if (a == "--delete-key" && more(1)) {
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, argv[++i]);
        } else if (a == "--set-sz" && more(3)) {
            SetValue(argv[i + 1], argv[i + 2], REG_SZ, std::string(argv[i + 3]) + '\0');
            i += 3;
        } else if (a == "--set-multi-sz" && more(3)) {
            std::string list = argv[i + 3];
            for (char& c : list)
                if (c == '|')
                    c = '\0';
            SetValue(argv[i + 1], argv[i + 2], REG_MULTI_SZ, list + '\0' + '\0');
            i += 3;
        } else if (a == "--delete-value" && more(2)) {
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[i + 1], 0, KEY_SET_VALUE, &key) == 0) {
                RegDeleteValueA(key, argv[i + 2]);
                RegCloseKey(key);
            }
            i += 2;
        } else {
            std::fprintf(stderr, "ui_probe: unknown or incomplete option %s\n", argv[i]);
            return 4;
        }
    }
    if (!logPath || i >= argc) {
        std::fprintf(stderr, "usage: ui_probe --log FILE [options] -- PROGRAM\n");
        return 4;
    }
    g_log = std::fopen(logPath, "w");
    if (!g_log)
        return 4;
    if (clearDeferred)
        ReportDeferred(false, true);
    SetUserProxy(proxy);

    // On Windows the desktop is always there; Wine makes it on first use, by
    // starting a desktop process. When the probe and the program first use it
    // at once, two such processes race, and the loser's cursor-clip X window
    // can stay in the desktop's properties after it is gone: the program then
    // dies of an X error (BadWindow on X_UnmapWindow) at a later change of
    // the foreground window. Make the desktop before the program starts.
    GetDesktopWindow();

    HANDLE held = INVALID_HANDLE_VALUE;
    if (holdPath) {
        held = CreateFileA(holdPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        Log(std::string("{\"event\": \"hold\", \"ok\": ") +
            (held != INVALID_HANDLE_VALUE ? "true" : "false") + "}");
    }

    // Started as from Explorer: its own folder as the working directory.
    std::string program = argv[i];
    std::string folder = program.substr(0, program.find_last_of('\\') + 1);
    std::string command = "\"" + program + "\"";
    PROCESS_INFORMATION process;
    if (!StartProgram(command, folder, process)) {
        Log("{\"event\": \"not-started\", \"error\": " + std::to_string(GetLastError()) + "}");
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        std::fclose(g_log);
        return 4;
    }
    PROCESS_INFORMATION second;
    std::memset(&second, 0, sizeof second);
    bool secondRunning = false;

    std::vector<HWND> answered;
    size_t nextAnswer = 0;
    std::string lastSample;
    bool picturedStatus = false;
    DWORD started = GetTickCount();
    // The program's exit code, once it has ended: a crash's code (0xC...)
    // is negative as an int, so whether it has ended is kept apart.
    int result = -1;
    bool ended = false;
    for (;;) {
        DWORD wait = WaitForSingleObject(process.hProcess, 20);
        if (ended)
            Sleep(20); // only the second copy is left to wait for
        if (secondAfterMs >= 0 && GetTickCount() - started >= static_cast<DWORD>(secondAfterMs)) {
            secondAfterMs = -1;
            secondRunning = StartProgram(command, folder, second);
            if (!secondRunning)
                Log("{\"event\": \"second-not-started\", \"error\": " +
                    std::to_string(GetLastError()) + "}");
        }
        if (secondRunning && WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(second.hProcess, &code);
            Log("{\"event\": \"second-exit\", \"code\": " + std::to_string(code) + "}");
            CloseHandle(second.hProcess);
            secondRunning = false;
        }
        Scan scan = {{process.dwProcessId, secondRunning ? second.dwProcessId : 0}, {}};
        EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&scan));
        for (HWND window : scan.windows) {
            // No class name: the window is already gone.
            std::string kind = ClassOf(window);
            if (kind.empty())
                continue;
            if (kind == "#32770") {
                bool seen = false;
                for (HWND done : answered)
                    seen = seen || done == window;
                if (!seen &&
                    RecordAndAnswerBox(window,
                                       nextAnswer < answers.size() ? answers[nextAnswer] : "OK")) {
                    answered.push_back(window);
                    ++nextAnswer;
                }
                continue;
            }
            std::string sample;
            std::string status;
            if (!SampleWindow(window, kind, sample, status) || sample == lastSample)
                continue;
            Log(sample);
            lastSample = sample;
            // Pictured mid-download, past the sign-in pages.
            if (!picturedStatus && std::atol(status.c_str()) >= 50000) {
                picturedStatus = true;
                SaveScreenshot("status", status);
            }
        }
        if (wait == WAIT_OBJECT_0 && !ended) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            Log("{\"event\": \"exit\", \"code\": " + std::to_string(code) +
                ", \"ms\": " + std::to_string(GetTickCount() - started) + "}");
            result = static_cast<int>(code);
            ended = true;
        }
        if (ended && !secondRunning && secondAfterMs < 0)
            break;
        if (GetTickCount() - started > timeoutMs) {
            TerminateProcess(process.hProcess, 3);
            WaitForSingleObject(process.hProcess, 10000);
            if (secondRunning) {
                TerminateProcess(second.hProcess, 3);
                WaitForSingleObject(second.hProcess, 10000);
                CloseHandle(second.hProcess);
            }
            Log("{\"event\": \"timeout\"}");
            result = 3;
            break;
        }
    }
    CloseHandle(process.hProcess);
    SetUserProxy("");
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    ReportDeferred(true, false);
    std::fclose(g_log);
    return result;
}
