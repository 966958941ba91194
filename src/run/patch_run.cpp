#include "patch_run.h"

#include "../common/fixed_text.h"
#include "../download/download_engine.h"
#include "../inspect/package_plan.h"
#include "../inspect/registry_probes.h"
#include "../inspect/windows_version.h"
#include "../install/file_removal.h"
#include "../install/installer_launch.h"
#include "../install/package_digest.h"
#include "../install/paths.h"
#include "site_settings.h"
#include "status_window.h"

namespace {

const char kProgramName[] = "KB835732 Patcher";
const UINT kErrorStyle = MB_TOPMOST | MB_ICONERROR;                        // 0x40010
const UINT kAskStyle = MB_TOPMOST | MB_ICONQUESTION | MB_OKCANCEL;         // 0x40021
const UINT kInstalledStyle = MB_TOPMOST | MB_DEFBUTTON2 | MB_ICONQUESTION; // 0x40120
const unsigned long kSmallestPackage = 100000; // a package is longer than this

const char kInstalledText[] =
    "The Windows update for the ASN.1 vulnerability (KB835732) has already been installed on "
    "this computer.  Your computer is protected.";
const char kConfirmText[] =
    "This program will install the Windows update for the ASN.1 vulnerability (KB835732). "
    "Please click OK to install. If you click Cancel this program will quit and your PC will "
    "remain unprotected.";
const char kNotRequiredText[] = "Your version of Windows does not require this update.\n";
const char kMissingText[] =
    "This program is unable to run. It may be that you have insufficient space on your hard "
    "drive, or that a network error has occurred. ";
const char kTooSmallText[] =
    "This program was unable to download the security patch. It may be that you have "
    "insufficient space on your hard drive, or that a network error has occurred. ";
const char kNotStartedText[] = "This program is unable to run. Try downloading a fresh copy. ";

void ShowFileError(const char* text)
{
    char message[4096];
    JoinText(message, {text, HelpLine()});
    MessageBoxA(nullptr, message, "File Error", kErrorStyle);
}

// Longer than the smallest package, compared unsigned.
bool IsPackageLongEnough(HANDLE package)
{
    unsigned long length = 0;
    return GetHeldFileSize(package, length) && length > kSmallestPackage;
}

// One run at a time: a second copy (a double click too many) would write,
// run and remove the very file the first one is downloading. "Global\\"
// reaches every session of a terminal server; Windows before 2000 has no
// such folder, and there the plain name serves. A lock held under another
// user's rights answers "access denied": another run all the same. Where no
// lock can be made at all, the run goes on as it would without one.
bool IsAnotherRunGoing(HANDLE& lock)
{
    SetLastError(0);
    lock = CreateMutexA(nullptr, FALSE, "Global\\KB835732Patcher");
    if (!lock && GetLastError() == ERROR_ACCESS_DENIED)
        return true;
    if (!lock) {
        SetLastError(0);
        lock = CreateMutexA(nullptr, FALSE, "KB835732Patcher");
    }
    return lock && GetLastError() == ERROR_ALREADY_EXISTS;
}

int RunAlone(HINSTANCE instance)
{
    if (FindInstalledUpdateMarker() != 0) {
        MessageBoxA(nullptr, kInstalledText, "Patch not required", kInstalledStyle);
        return 1;
    }
    if (MessageBoxA(nullptr, kConfirmText, "Apply the Security Patch?", kAskStyle) == IDCANCEL)
        return 1;

    char programPath[kPathArea];
    char directory[kPathArea];
    GetProgramPath(programPath);
    GetProgramDirectory(programPath, directory);
    bool directoryFits = EnsureTrailingBackslash(directory);

    char versionText[kVersionTextArea];
    int versionCode = ClassifyWindowsVersion(versionText);
    const char* english = ChoosePatchPackage(versionCode);
    if (!english) {
        MessageBoxA(nullptr, kNotRequiredText, "Update Not Required", kErrorStyle);
        return 1;
    }
    // A package installs only on a Windows of its own language.
    char languageName[kPathArea];
    const char* package = ChooseLanguagePackage(english, languageName);

    // A directory too deep for the package path leaves nothing to download
    // into; that is told as a missing package file.
    char targetPath[kPathArea];
    char downloadUrl[kUrlArea];
    if (!directoryFits || !FormPatchPlan(directory, package, targetPath, downloadUrl)) {
        ShowFileError(kMissingText);
        return 1;
    }

    // A title cut short is still a title. No printf here: MinGW's brings
    // its floating-point formatting along, a third of the program.
    char title[256];
    CopyText(title, kProgramName);
    AppendTextCut(title, " Windows Version: ");
    AppendTextCut(title, versionText);
    OpenStatusWindow(instance, title);
    DownloadPatch(downloadUrl, targetPath, instance, ShowStatus);
    CloseStatusWindow();

    if (!FileExists(targetPath)) {
        ShowFileError(kMissingText);
        return 1;
    }
    // The file is held from its checks until the package has ended (on the
    // NT family; see LaunchInstaller), so that nobody can change, rename or
    // replace it in between; it is let go just before its removal. One that
    // cannot be held (read-only, or held by another program: not what the
    // download wrote), is too small, or is not the one the site pinned, is
    // treated like a failed download: reported, never run, and removed.
    HANDLE held = HoldPackageFile(targetPath);
    if (held == INVALID_HANDLE_VALUE || !IsPackageLongEnough(held) ||
        !IsHeldPackageAsPinned(held, package)) {
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        ShowFileError(kTooSmallText);
    } else {
        char launchError[kLaunchErrorArea];
        if (!LaunchInstaller(targetPath, true, launchError, held)) // closes `held`
            ShowFileError(kNotStartedText);
    }

    char removalError[kRemovalErrorArea];
    bool deferred = false;
    RemoveDownloadedFile(targetPath, removalError, deferred);
    return 1;
}

} // namespace

const char* HelpLine()
{
    return "For assistance please call " PATCHER_HELPDESK_PHONE " or go to " PATCHER_HELPDESK_URL;
}

// The second copy ends at once, without a word: the first one's box or
// window is already in front of the user.
int RunPatch(HINSTANCE instance)
{
    HANDLE lock = nullptr;
    int code = IsAnotherRunGoing(lock) ? 1 : RunAlone(instance);
    if (lock)
        CloseHandle(lock);
    return code;
}
