#include "package_check.h"

#include <cstring>
#include <fcntl.h>

#include "../common/platform.h"
#include "../download/download_engine.h"
#include "../download/signin_page.h"
#include "../inspect/package_plan.h"
#include "../inspect/package_pins.h"
#include "../install/package_digest.h"
#include "../install/paths.h"

namespace {

int IgnoreProgress(void*, const char*)
{
    return 1;
}

// As the program measures it: the length of the file opened by its path.
unsigned long FileLength(const char* path)
{
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd == -1)
        return 0;
    long length = _filelength(fd);
    _close(fd);
    return length > 0 ? static_cast<unsigned long>(length) : 0;
}

} // namespace

bool CheckPackage(const char* scratchDirectory, const char* windows, const char* package,
                  const char* pins, PackageFacts& facts)
{
    std::memset(&facts, 0, sizeof facts);
    facts.windows = windows;
    facts.package = package;
    facts.pinnedRelease = pins[0] != '\0';
    FindPinnedDigest(pins, package, facts.pinned);
    char target[kPathArea];
    char url[kUrlArea];
    if (!FormPatchPlan(scratchDirectory, package, target, url))
        return false;
    // Whatever an earlier, interrupted check left is not this download.
    DeleteFileA(target);
    DWORD start = GetTickCount();
    DownloadPatch(url, target, nullptr, IgnoreProgress, &facts.report);
    facts.milliseconds = GetTickCount() - start;
    facts.fileExists = FileExists(target);
    if (!facts.fileExists)
        return true;
    facts.fileSize = FileLength(target);
    DigestFile(target, facts.found);
    char followUrl[kFollowUrlArea];
    facts.signInPage = FindSignInRedirect(target, followUrl) || FindReturnUrl(target, followUrl);
    return DeleteFileA(target) != FALSE;
}
