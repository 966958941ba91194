// A stand-in for a real update package, run by the tests and the demo.
//
// It records each run (argument count, command line, working directory, and
// its own size, so that a cut copy shows) by appending a line to
// "<its own path>.ran.txt", and is steered by the
// environment it inherits from the program that starts it:
//   STANDIN_RUN_MS=N         keep running N milliseconds before ending
//   STANDIN_HOLD_MS=N        leave a child behind that holds this file open,
//                            without delete sharing, for N milliseconds, so
//                            that deleting the package at once fails
//   STANDIN_MARK_INSTALLED=1 record the update as installed in the registry
// With "--hold N" it is that child. Its size can be padded to any amount
// above its own by appending bytes; Windows ignores data after the image.
#include <windows.h>

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

void HoldOwnFile(const char* self, DWORD milliseconds)
{
    HANDLE file = CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    Sleep(milliseconds);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void StartHolder(const char* self, DWORD milliseconds)
{
    char command[MAX_PATH + 64];
    std::snprintf(command, sizeof command, "\"%s\" --hold %lu", self,
                  static_cast<unsigned long>(milliseconds));
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        // Give the child time to open the file before this process ends.
        Sleep(500);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
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
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) {
        HoldOwnFile(self, static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
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
    FILE* log = std::fopen(record, "a");
    if (log) {
        std::fprintf(log, "argc=%d|cmdline=%s|cwd=%s|size=%lu\n", argc, GetCommandLineA(),
                     directory, static_cast<unsigned long>(size));
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
