#include "windows_version.h"

#include <cstdlib>
#include <cstring>

#include "../common/fixed_text.h"

namespace {

// _itoa of the whole field: on Windows 9x the build field keeps the version
// in its high word, and it is shown as it is.
void AppendNumber(char (&text)[kVersionTextArea], DWORD value)
{
    char digits[20];
    _itoa(static_cast<int>(value), digits, 10);
    AppendText(text, digits);
}

} // namespace

int DescribeWindowsVersion(const OSVERSIONINFOA& record, char (&description)[kVersionTextArea])
{
    char text[kVersionTextArea] = "";
    int code = 0;
    if (record.dwPlatformId == 2) {
        CopyText(text, "Windows ");
        if (record.dwMajorVersion != 5) {
            AppendText(text, "NT ");
            code = record.dwMajorVersion > 3 ? 5 : 4;
        } else if (record.dwMinorVersion == 0) {
            AppendText(text, "2000 ");
            code = 7;
        } else if (record.dwMinorVersion == 1) {
            AppendText(text, "XP ");
            code = 8;
        } else {
            AppendText(text, "Server 2003 ");
            code = 9;
        }
    } else if (record.dwPlatformId == 1) {
        CopyText(text, "Windows ");
        if (record.dwMinorVersion < 10) {
            AppendText(text, "95 ");
            code = 2;
        } else if (record.dwMinorVersion < 90) {
            AppendText(text, "98 ");
            code = 3;
        } else {
            AppendText(text, "ME ");
            code = 6;
        }
    } else if (record.dwPlatformId == 0) {
        CopyText(text, "Windows 32s on Windows 3.1 ");
        code = 1;
    } else {
        description[0] = '\0';
        return 0;
    }

    // szCSDVersion holds at most 127 characters plus its NUL, so the text
    // stays well inside the array; one that lacks the NUL ends after its 128 bytes.
    char servicePack[sizeof record.szCSDVersion + 1];
    CopyTextCut(servicePack, sizeof servicePack, record.szCSDVersion,
                strnlen(record.szCSDVersion, sizeof record.szCSDVersion));
    AppendText(text, " ");
    AppendText(text, servicePack);
    AppendText(text, " Ver ");
    AppendNumber(text, record.dwMajorVersion);
    AppendText(text, ".");
    AppendNumber(text, record.dwMinorVersion);
    AppendText(text, " (");
    AppendNumber(text, record.dwBuildNumber);
    AppendText(text, ")");
    CopyText(description, text);
    return code;
}

#ifdef _WIN32
OSVERSIONINFOA GetOsVersionInfo()
{
    OSVERSIONINFOA record;
    std::memset(&record, 0, sizeof record);
    record.dwOSVersionInfoSize = sizeof record;
    GetVersionExA(&record);
    return record;
}

int ClassifyWindowsVersion(char (&description)[kVersionTextArea])
{
    OSVERSIONINFOA record = GetOsVersionInfo();
    return DescribeWindowsVersion(record, description);
}
#endif
