#include "installer_launch.h"

#include <cstdlib>
#include <cstring>

#include "../common/fixed_text.h"
#include "../common/platform.h"
#include "../inspect/windows_version.h"

void StripControlChars(char* text)
{
    size_t n = std::strlen(text);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c > 0x7E)
            text[i] = '\0';
    }
}

void IntToDecimalText(int value, char* text)
{
    char local[20];
    _itoa(value, local, 10);
    std::memcpy(text, local, std::strlen(local) + 1);
}

#ifdef _WIN32
namespace {

void LetGo(HANDLE& file)
{
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
}

} // namespace

void FormatLastError(char (&text)[kSystemTextArea])
{
    text[0] = '\0';
    char* systemText = nullptr;
    DWORD code = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    if (length > 0 && systemText) {
        CopyTextCut(text, sizeof text, systemText, length);
        StripControlChars(text);
    } else {
        IntToDecimalText(static_cast<int>(code), text);
    }
    LocalFree(systemText);
}

bool LaunchInstaller(const char* packagePath, bool wait, char (&errorText)[kLaunchErrorArea],
                     HANDLE heldFile)
{
    errorText[0] = '\0';
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);

    // The package runs by its full path, named as the module to start: an
    // unquoted path with a space is read by CreateProcess as a program and
    // its arguments, so "C:\pt dir\x.exe" would start "C:\pt.exe" where one
    // lies. The command line (which CreateProcessA may write into) is the
    // quoted path and nothing else: the package receives no arguments.
    char command[kLaunchCommandArea];
    BOOL started = FALSE;
    // The hold shares reading alone, which is all Windows NT asks of a file
    // to start it. Whether the loader of Windows 95, 98 or Me starts a file
    // held open is documented nowhere, and there the hold protects nothing.
    if (GetOsVersionInfo().dwPlatformId != VER_PLATFORM_WIN32_NT)
        LetGo(heldFile);
    // Handles are not inherited: the package must not keep the hold alive.
    if (JoinText(command, {"\"", packagePath, "\""}))
        started = CreateProcessA(packagePath, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process);
    else
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    char systemText[kSystemTextArea] = "";
    if (!started)
        FormatLastError(systemText); // before any other call can change the last error

    if (started) {
        if (wait)
            WaitForSingleObject(process.hProcess, INFINITE);
        LetGo(heldFile);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return true;
    }
    LetGo(heldFile);

    // Longer paths than the patch run ever passes are cut here.
    CopyText(errorText, "Unable to run the program: ");
    AppendTextCut(errorText, packagePath);
    AppendTextCut(errorText, " Error Message: ");
    AppendTextCut(errorText, systemText);
    return false;
}
#endif
