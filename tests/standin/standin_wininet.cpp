// A stand-in wininet.dll for the tests that put one where Windows would
// find it: beside the program (where a bare-name load looks first) or in the
// system directory (an old Internet Explorer's WinINet).
//
// Every load is recorded by appending a line to "<its own path>.loaded.txt",
// and so is every request sent, with the time-outs set on the request
// itself: like an old Internet Explorer's WinINet, and unlike Wine's, its
// requests do not take over their connection's.
// Built three ways:
//   (default)                 each function the program calls exists and
//                             answers like a server that sends an empty page
//   STANDIN_WININET_LACKING   the same, without InternetQueryDataAvailable,
//                             which the program calls only once a request
//                             has been answered: an old WinINet's gap
//   STANDIN_WININET_FAILING   every function exists and fails
#include <windows.h>
// Declared as this DLL's own functions, not imported ones.
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HINSTANCE self;

void Record(const char* line)
{
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    std::strcpy(path + n, ".loaded.txt");
    HANDLE record = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(record, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    CloseHandle(record);
}

void RecordLoad()
{
    char line[MAX_PATH + 32] = "loaded by ";
    GetModuleFileNameA(nullptr, line + 10, MAX_PATH);
    std::strcat(line, "\n");
    Record(line);
}

// The handles it gives; the time-outs set on the request since it was made.
HINTERNET const kSession = reinterpret_cast<HINTERNET>(1);
HINTERNET const kConnection = reinterpret_cast<HINTERNET>(2);
HINTERNET const kRequest = reinterpret_cast<HINTERNET>(3);
DWORD requestLimits[3]; // connect, send, receive

#ifdef STANDIN_WININET_FAILING
const bool kWorks = false;
#else
const bool kWorks = true;
#endif

HINTERNET Handle(HINTERNET kind)
{
    if (kWorks)
        return kind;
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return nullptr;
}

BOOL Answer()
{
    if (!kWorks)
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return kWorks ? TRUE : FALSE;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        RecordLoad();
    }
    return TRUE;
}

__declspec(dllexport) HINTERNET WINAPI InternetOpenA(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    return Handle(kSession);
}

__declspec(dllexport) HINTERNET WINAPI
    InternetConnectA(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR)
{
    return Handle(kConnection);
}

__declspec(dllexport) HINTERNET WINAPI
    HttpOpenRequestA(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR)
{
    std::memset(requestLimits, 0, sizeof requestLimits);
    return Handle(kRequest);
}

__declspec(dllexport) BOOL WINAPI HttpSendRequestA(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD)
{
    char line[128];
    std::snprintf(line, sizeof line, "request sent with its own limits: %lu %lu %lu\n",
                  requestLimits[0], requestLimits[1], requestLimits[2]);
    Record(line);
    return Answer();
}

// 200 for the status; every other header is missing.
__declspec(dllexport) BOOL WINAPI
    HttpQueryInfoA(HINTERNET, DWORD info, LPVOID buffer, LPDWORD size, LPDWORD)
{
    if (kWorks && info == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) && buffer && size &&
        *size >= sizeof(DWORD)) {
        *static_cast<DWORD*>(buffer) = 200;
        *size = sizeof(DWORD);
        return TRUE;
    }
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
}

#ifndef STANDIN_WININET_LACKING
__declspec(dllexport) BOOL WINAPI
    InternetQueryDataAvailable(HINTERNET, LPDWORD available, DWORD, DWORD_PTR)
{
    if (available)
        *available = 0;
    return Answer();
}
#endif

// An empty body.
__declspec(dllexport) BOOL WINAPI InternetReadFile(HINTERNET, LPVOID, DWORD, LPDWORD read)
{
    if (read)
        *read = 0;
    return Answer();
}

__declspec(dllexport) BOOL WINAPI InternetCloseHandle(HINTERNET)
{
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length)
{
    int which = option == INTERNET_OPTION_CONNECT_TIMEOUT   ? 0
                : option == INTERNET_OPTION_SEND_TIMEOUT    ? 1
                : option == INTERNET_OPTION_RECEIVE_TIMEOUT ? 2
                                                            : -1;
    if (handle == kRequest && which >= 0 && buffer && length == sizeof(DWORD))
        requestLimits[which] = *static_cast<DWORD*>(buffer);
    return Answer();
}

__declspec(dllexport) BOOL WINAPI InternetCombineUrlA(LPCSTR, LPCSTR, LPSTR, LPDWORD, DWORD)
{
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return FALSE;
}

// Enough of "http://host:port/path?query" for the program to go on.
__declspec(dllexport) BOOL WINAPI
    InternetCrackUrlA(LPCSTR url, DWORD, DWORD, LPURL_COMPONENTSA parts)
{
    const char* start = url ? std::strstr(url, "://") : nullptr;
    if (!kWorks || !parts || !start) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return FALSE;
    }
    bool secure = std::strncmp(url, "https", 5) == 0;
    parts->nScheme = secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
    char* host = const_cast<char*>(start + 3);
    char* path = host + std::strcspn(host, "/?");
    char* colon = static_cast<char*>(std::memchr(host, ':', static_cast<size_t>(path - host)));
    parts->lpszHostName = host;
    parts->dwHostNameLength = static_cast<DWORD>((colon ? colon : path) - host);
    parts->nPort = static_cast<INTERNET_PORT>(colon ? std::atoi(colon + 1) : (secure ? 443 : 80));
    parts->lpszUserName = parts->lpszPassword = nullptr;
    parts->dwUserNameLength = parts->dwPasswordLength = 0;
    char* query = path + std::strcspn(path, "?");
    parts->lpszUrlPath = path;
    parts->dwUrlPathLength = static_cast<DWORD>(query - path);
    parts->lpszExtraInfo = query;
    parts->dwExtraInfoLength = static_cast<DWORD>(std::strlen(query));
    return TRUE;
}

} // extern "C"
