// Times one download inside the Win32 process, so that the start-up of the
// process (and of Wine) stays out of the figure.
//
//   download_bench METHOD URL TARGET
//
// METHOD is one of
//   engine_status  DownloadPatch with the status window the program shows
//   engine_noop    DownloadPatch with a callback that does nothing
//   loop           the bare platform calls: 1024-byte InternetReadFile, fwrite
//   loop_window    the bare loop plus the per-chunk status-line swap
//
// Prints one line:
//   method=M bytes=N seconds=S peak_ws_kb=P start_ws_kb=W start_peak_ws_kb=Q result=R
// bytes is the size of TARGET on disk afterwards; the caller judges it.
// Exit code 0 when the method reported success, 1 when not, 2 on bad use.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "download/download_engine.h"
#include "run/status_window.h"

namespace {

// The same sizes and calls as the download engine, so that the bare loop
// measures what the platform costs and nothing else.
constexpr DWORD kChunk = 1024;
constexpr size_t kLineArea = 4096;

int DoNothing(void*, const char*)
{
    return 0;
}

// The status line as the program's status window replaces it: destroy the
// old child, create a new STATIC with the text, show it and paint it now.
struct LineWindows {
    HWND title;
    HWND line;
};

void SwapLine(LineWindows& windows, HINSTANCE instance, const char* text)
{
    if (windows.line)
        DestroyWindow(windows.line);
    windows.line = CreateWindowExA(0, "STATIC", text, WS_CHILD, 0, 0, 600, 50, windows.title,
                                   nullptr, instance, nullptr);
    ShowWindow(windows.line, SW_SHOWNORMAL);
    ShowWindow(windows.line, SW_SHOWNOACTIVATE);
    UpdateWindow(windows.line);
}

// 1 when the whole answer was read (a read that fails counts as not).
unsigned char BareLoop(const char* url, const char* targetPath, HINSTANCE instance, bool withWindow)
{
    FILE* file = std::fopen(targetPath, "wb");
    if (!file)
        return 0;
    char* chunk = static_cast<char*>(std::malloc(kChunk));
    LineWindows windows = {nullptr, nullptr};
    if (withWindow) {
        windows.title = CreateWindowExA(0, "STATIC", "download_bench", 0, 0, 0, 600, 50, nullptr,
                                        nullptr, instance, nullptr);
        ShowWindow(windows.title, SW_SHOWNORMAL);
        ShowWindow(windows.title, SW_SHOWNOACTIVATE);
        UpdateWindow(windows.title);
    }
    const char* fileName = std::strrchr(targetPath, '\\');
    fileName = fileName ? fileName + 1 : targetPath;

    unsigned char ok = 0;
    HINTERNET session = InternetOpenA("InetURL/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                      0);
    if (session) {
        HINTERNET request = chunk ? InternetOpenUrlA(session, url, nullptr, 0, 0, 0) : nullptr;
        if (request) {
            char text[kLineArea];
            unsigned total = 0;
            DWORD got = 0;
            BOOL read = FALSE;
            while ((read = InternetReadFile(request, chunk, kChunk, &got)) && got > 0) {
                std::fwrite(chunk, got, 1, file);
                total += got;
                if (withWindow) {
                    std::snprintf(text, sizeof text, "%u Bytes read (%s)", total, fileName);
                    SwapLine(windows, instance, text);
                }
            }
            ok = read ? 1 : 0;
            InternetCloseHandle(request);
        }
        InternetCloseHandle(session);
    }
    if (windows.line)
        DestroyWindow(windows.line);
    if (windows.title)
        DestroyWindow(windows.title);
    std::free(chunk);
    if (std::fclose(file) != 0)
        ok = 0;
    return ok;
}

// -1 when the file cannot be opened.
long long FileSize(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    long long size = -1;
    if (low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR)
        size = (static_cast<long long>(high) << 32) | low;
    CloseHandle(file);
    return size;
}

struct Memory {
    unsigned long workingKb;
    unsigned long peakKb;
};

Memory ProcessMemory()
{
    PROCESS_MEMORY_COUNTERS counters;
    std::memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    Memory memory = {0, 0};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        memory.workingKb = static_cast<unsigned long>(counters.WorkingSetSize / 1024);
        memory.peakKb = static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
    }
    return memory;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: download_bench engine_status|engine_noop|loop|loop_window "
                             "URL TARGET\n");
        return 2;
    }
    const char* method = argv[1];
    const char* url = argv[2];
    const char* target = argv[3];
    HINSTANCE instance = GetModuleHandleA(nullptr);

    int which = -1;
    const char* const methods[] = {"engine_status", "engine_noop", "loop", "loop_window"};
    for (int i = 0; i < 4; ++i)
        if (std::strcmp(method, methods[i]) == 0)
            which = i;
    if (which < 0) {
        std::fprintf(stderr, "download_bench: unknown method %s\n", method);
        return 2;
    }

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    Memory before = ProcessMemory();
    QueryPerformanceCounter(&start);
    unsigned char result = 0;
    switch (which) {
    case 0:
        OpenStatusWindow(instance, "download_bench");
        result = DownloadPatch(url, target, instance, ShowStatus);
        CloseStatusWindow();
        break;
    case 1: result = DownloadPatch(url, target, instance, DoNothing); break;
    case 2: result = BareLoop(url, target, instance, false); break;
    default: result = BareLoop(url, target, instance, true); break;
    }
    QueryPerformanceCounter(&end);
    Memory after = ProcessMemory();

    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                     static_cast<double>(frequency.QuadPart);
    std::printf("method=%s bytes=%lld seconds=%.6f peak_ws_kb=%lu start_ws_kb=%lu "
                "start_peak_ws_kb=%lu result=%u\n",
                method, FileSize(target), seconds, after.peakKb, before.workingKb, before.peakKb,
                static_cast<unsigned>(result));
    std::fflush(stdout);
    return result ? 0 : 1;
}
