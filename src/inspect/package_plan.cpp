#include "package_plan.h"

#include "../common/fixed_text.h"
#include "site_settings.h"

#ifdef _WIN32
#include "registry_probes.h"
#endif

const char* SelectPatchPackage(int versionCode, bool isServerProduct, bool isTerminalServer)
{
    switch (versionCode) {
    case 3: return "828028USA8.EXE";
    case 5:
        if (!isServerProduct)
            return "WindowsNT4Workstation-KB835732-x86-ENU.EXE";
        return isTerminalServer ? "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"
                                : "WindowsNT4Server-KB835732-x86-ENU.EXE";
    case 6: return "828028USAM.EXE";
    case 7: return "Windows2000-KB835732-x86-ENU.EXE";
    case 8: return "WindowsXP-KB835732-x86-ENU.EXE";
    case 9: return "WindowsServer2003-KB835732-x86-ENU.EXE";
    default: return nullptr;
    }
}

#ifdef _WIN32
const char* ChoosePatchPackage(int versionCode)
{
    if (versionCode != 5)
        return SelectPatchPackage(versionCode, false, false);
    bool server = IsNtServerProduct();
    bool terminal = server && IsTerminalServer();
    return SelectPatchPackage(versionCode, server, terminal);
}
#endif

const char* PatchServerBaseUrl()
{
    return "http://" PATCHER_SERVER_HOST "/patches/KB835732/";
}

bool FormPatchPlan(const char* directory, const char* package, char (&targetPath)[kPathArea],
                   char (&downloadUrl)[kUrlArea])
{
    if (JoinText(targetPath, {directory, package}) &&
        JoinText(downloadUrl, {PatchServerBaseUrl(), package}))
        return true;
    targetPath[0] = '\0';
    downloadUrl[0] = '\0';
    return false;
}
