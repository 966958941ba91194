// A stand-in for a real update package, run by the tests and the demo.
//
// It records each run (argument count, command line, working directory, and
// its own size, so that a cut copy shows) by appending a line to
// "<its own path>.ran.txt". While it runs it also plays another program in
// its folder: it reads its own file whole, as a self-extracting package
// does, and tries to open it for writing and to rename it away (putting it
// back), and records each outcome ("read=BYTES|write=refused|rename=done").
// It is steered by the environment it inherits from the program that
// starts it:
//   STANDIN_RUN_MS=N         keep running N milliseconds before ending
//   STANDIN_HOLD_MS=N        leave a child behind that holds this file open,
//                            without delete sharing, until the process that
//                            started this one ends (N milliseconds at most),
//                            so that deleting the package at once fails
//   STANDIN_MARK_INSTALLED=1 record the update as installed in the registry
// With "--hold N EVENT STARTER" it is that child. Its size can be padded to any amount
// above its own by appending bytes; Windows ignores data after the image.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

DWORD EnvironmentNumber(const char* name)
{
    char text[32];
    DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
    return (n > 0 && n < sizeof text) ? static_cast<DWORD>(std::strtoul(text, nullptr, 10)) : 0;
}

// The process that started this one, inheritable, or null.
HANDLE OpenStarter()
{
    HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (all == INVALID_HANDLE_VALUE)
        return nullptr;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD starter = 0;
    for (BOOL more = Process32First(all, &entry); more; more = Process32Next(all, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            starter = entry.th32ParentProcessID;
    CloseHandle(all);
    return starter ? OpenProcess(SYNCHRONIZE, TRUE, starter) : nullptr;
}

// Held until the starter of the package ends rather than for a fixed time:
// it has tried to delete the package by then, however slowly it ran.
void HoldOwnFile(const char* self, DWORD milliseconds, HANDLE opened, HANDLE starter)
{
    HANDLE file = CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (opened) {
        SetEvent(opened);
        CloseHandle(opened);
    }
    if (starter) {
        WaitForSingleObject(starter, milliseconds);
        CloseHandle(starter);
    } else {
        Sleep(milliseconds);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void StartHolder(const char* self, DWORD milliseconds)
{
    // The child says when it holds the file: this process must not end
    // before, however slowly the child starts.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE opened = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    if (!opened)
        return;
    HANDLE starter = OpenStarter();
    char command[MAX_PATH + 64];
    std::snprintf(command, sizeof command, "\"%s\" --hold %lu %lu %lu", self,
                  static_cast<unsigned long>(milliseconds),
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(opened)),
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(starter)));
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        HANDLE both[2] = {opened, process.hProcess};
        WaitForMultipleObjects(2, both, FALSE, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(opened);
    if (starter)
        CloseHandle(starter);
}

// Its own file read whole through an ordinary read-only open; -1 if not.
long ReadOwnFile(const char* self)
{
    HANDLE file = CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    static char chunk[65536];
    long total = 0;
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        total += static_cast<long>(got);
    CloseHandle(file);
    return total;
}

const char* TryWrite(const char* self)
{
    HANDLE file = CreateFileA(self, GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "refused";
    CloseHandle(file);
    return "done";
}

const char* TryRename(const char* self)
{
    char away[MAX_PATH + 8];
    std::snprintf(away, sizeof away, "%s.away", self);
    if (!MoveFileA(self, away))
        return "refused";
    return MoveFileA(away, self) ? "done" : "done-not-back";
}

void MarkInstalled()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KB835732", 0,
                        nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const char name[] = "Security Update for Windows (KB835732)";
        RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                       sizeof name);
        RegCloseKey(key);
    }
}

} // namespace

int main(int argc, char** argv)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        return 2;
    if (argc == 5 && std::strcmp(argv[1], "--hold") == 0) {
        auto handle = [](const char* text) {
            return reinterpret_cast<HANDLE>(
                static_cast<ULONG_PTR>(std::strtoul(text, nullptr, 10)));
        };
        HoldOwnFile(self, static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), handle(argv[3]),
                    handle(argv[4]));
        return 0;
    }

    char record[MAX_PATH + 16];
    std::snprintf(record, sizeof record, "%s.ran.txt", self);
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    DWORD size = 0;
    HANDLE file = CreateFileA(self, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        size = GetFileSize(file, nullptr);
        CloseHandle(file);
    }
    long read = ReadOwnFile(self);
    const char* write = TryWrite(self);
    const char* rename = TryRename(self);
    FILE* log = std::fopen(record, "a");
    if (log) {
        std::fprintf(log, "argc=%d|cmdline=%s|cwd=%s|size=%lu|read=%ld|write=%s|rename=%s\n", argc,
                     GetCommandLineA(), directory, static_cast<unsigned long>(size), read, write,
                     rename);
        std::fclose(log);
    }

    if (GetEnvironmentVariableA("STANDIN_MARK_INSTALLED", nullptr, 0) > 0)
        MarkInstalled();
    if (DWORD hold = EnvironmentNumber("STANDIN_HOLD_MS"))
        StartHolder(self, hold);
    if (DWORD run = EnvironmentNumber("STANDIN_RUN_MS"))
        Sleep(run);
    return 0;
}
