#include "paths.h"

#include <cstring>

#include "../common/characters.h"
#include "../common/fixed_text.h"
#include "../common/platform.h"
#include "../download/text_search.h"

void GetProgramDirectory(const char* programPath, char (&directory)[kMaxPathArea])
{
    bool quoted = ContainsTextNoCase(programPath, "\"") == 1;
    directory[0] = '\0';
    const char* lastBackslash = FindLastCharacter(programPath, '\\');
    if (lastBackslash && lastBackslash > programPath)
        CopyHead(programPath, directory, static_cast<int>(lastBackslash - programPath));
    if (quoted) {
        char copy[kMaxPathArea];
        CopyText(copy, directory);
        if (ContainsTextNoCase(copy, "\"") == 1)
            CopyTail(copy, directory, static_cast<int>(std::strlen(copy)) - 1);
    }
}

bool EnsureTrailingBackslashBounded(char* directory, size_t capacity)
{
    // Only a backslash of its own closes the path: on a double-byte code
    // page a name may end in a character whose second byte is 0x5C.
    const char* last = FindLastCharacter(directory, '\\');
    if (last && last[1] == '\0')
        return true;
    return AppendTextBounded(directory, capacity, "\\");
}

#ifdef _WIN32
bool GetProgramPath(char (&programPath)[kMaxPathArea])
{
    programPath[0] = '\0';
    char local[kMaxPathArea];
    DWORD n = GetModuleFileNameA(nullptr, local, sizeof local);
    // A result equal to the size means the path was cut short.
    if (n == 0 || n >= sizeof local)
        return false;
    local[n] = '\0';
    return CopyText(programPath, local);
}

bool GetWindowsDirectoryPath(char (&directory)[kMaxPathArea])
{
    directory[0] = '\0';
    char local[kMaxPathArea];
    UINT n = GetWindowsDirectoryA(local, sizeof local);
    // A larger result is the size the directory would need.
    if (n == 0 || n >= sizeof local)
        return false;
    return CopyText(directory, local);
}

bool FileExists(const char* pathOrPattern)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pathOrPattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    if (!std::strchr(pathOrPattern, '*')) {
        found = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    } else {
        for (int looked = 0; looked < 1000; ++looked) {
            if (!FindNextFileA(search, &entry))
                break;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                found = true;
                break;
            }
        }
    }
    FindClose(search);
    return found;
}

HANDLE HoldPackageFile(const char* path)
{
    // Write access, asked and let go at once, proves the file is one this
    // run could have written; the handle that stays shares reading alone.
    // A handle that keeps write access could not be held: Windows refuses
    // to start a program that is open for writing.
    HANDLE probe = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    CloseHandle(probe);
    HANDLE held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    // Read-only is asked of the file itself as well: where the rights allow
    // writing to it anyway (an administrator's, or Wine run as root), write
    // access alone would not show that nothing could have replaced it.
    BY_HANDLE_FILE_INFORMATION about;
    if (held != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(held, &about) ||
         (about.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)) {
        CloseHandle(held);
        return INVALID_HANDLE_VALUE;
    }
    return held;
}

bool GetHeldFileSize(HANDLE file, unsigned long& size)
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    size = low;
    return high == 0;
}
#endif
