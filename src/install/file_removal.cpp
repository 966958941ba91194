#include "file_removal.h"

#include <cstdio>
#include <cstring>

#include "../common/fixed_text.h"
#include "../common/platform.h"
#include "../inspect/windows_version.h"
#include "installer_launch.h"
#include "paths.h"

namespace {

// True when the file is non-empty and its last byte is not a line feed, so
// that an appended line would join the last one.
bool EndsWithoutLineBreak(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    bool open = false;
    if (std::fseek(file, -1, SEEK_END) == 0)
        open = std::fgetc(file) != '\n';
    std::fclose(file); // NOLINT(cert-err33-c): read only, a failed close loses nothing
    return open;
}

bool ScheduleWithWininit(const char* packagePath, char (&errorText)[kRemovalErrorArea])
{
    char wininit[kMaxPathArea];
    GetWindowsDirectoryPath(wininit);
    EnsureTrailingBackslash(wininit);
    bool pathFits = AppendText(wininit, "WININIT.INI");

    if (!pathFits || !FileExists(wininit)) {
        FILE* created = pathFits ? std::fopen(wininit, "w") : nullptr;
        // A section header that never reached the disk leaves nothing to
        // add the line to: that is a failure, not a deferred removal.
        bool written = created && std::fputs("[rename]\n", created) >= 0;
        if (!created || std::fclose(created) != 0 || !written) {
            JoinText(errorText, {"Unable to write to file: ", wininit, " to WININT.INI"});
            return false;
        }
    }

    bool needsBreak = EndsWithoutLineBreak(wininit);
    FILE* file = std::fopen(wininit, "a");
    char shortPath[kMaxPathArea];
    DWORD n = GetShortPathNameA(packagePath, shortPath, sizeof shortPath);
    const char* name = (n == 0 || n >= sizeof shortPath) ? packagePath : shortPath;
    char line[kMaxPathArea];
    if (!file || !JoinText(line, {"NUL=", name, "\n"})) {
        if (file)
            std::fclose(file); // NOLINT(cert-err33-c): nothing was written to lose
        JoinText(errorText, {"Unable to write to file: ", wininit, " to WININIT.INI"});
        return false;
    }
    // A line that did not reach the disk (a full disk, say) schedules nothing.
    bool written = (!needsBreak || std::fputs("\n", file) >= 0) && std::fputs(line, file) >= 0;
    if (std::fclose(file) != 0 || !written) {
        JoinText(errorText, {"Unable to write to file: ", wininit, " to WININIT.INI"});
        return false;
    }
    return true;
}

} // namespace

bool RemoveDownloadedFile(const char* packagePath, char (&errorText)[kRemovalErrorArea],
                          bool& deferred)
{
    SetFileAttributesA(packagePath, FILE_ATTRIBUTE_NORMAL);
    deferred = false;
    errorText[0] = '\0';
    if (DeleteFileA(packagePath))
        return true;

    OSVERSIONINFOA record = GetOsVersionInfo();
    if (record.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (MoveFileExA(packagePath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            deferred = true;
            return true;
        }
        char systemText[kSystemTextArea];
        FormatLastError(systemText);
        CopyText(errorText, systemText);
        return false;
    }

    if (!ScheduleWithWininit(packagePath, errorText))
        return false;
    deferred = true;
    return true;
}
