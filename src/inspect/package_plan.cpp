#include "package_plan.h"

#include <cstring>

#include "../common/fixed_text.h"
#include "../download/text_search.h"
#include "package_pins.h"
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

const char* ChooseLanguagePackage(const char* english, char (&name)[kPathArea])
{
    char code[kLanguageCodeArea];
    GetPackageLanguage(GetInstallLanguage(), code);
    return NameLanguagePackage(english, code, PATCHER_PACKAGE_SHA256, name);
}
#endif

bool FormLanguageName(const char* english, const char* code, char (&name)[kPathArea])
{
    name[0] = '\0';
    const char* mark = std::strstr(english, "-ENU.");
    if (!mark || !IsLanguageCode(code) || !CopyText(name, english))
        return false;
    std::memcpy(name + (mark - english) + 1, code, 3);
    return true;
}

const char* NameLanguagePackage(const char* english, const char* code, const char* pins,
                                char (&name)[kPathArea])
{
    char digest[65];
    bool other = std::strcmp(code, "ENU") != 0 && FormLanguageName(english, code, name);
    return other && FindPinnedDigest(pins, name, digest) ? name : english;
}

bool ReadNameLanguage(const char* english, const char* name, char (&code)[kLanguageCodeArea])
{
    code[0] = '\0';
    const char* mark = std::strstr(english, "-ENU.");
    if (!mark || std::strlen(name) != std::strlen(english))
        return false;
    char read[kLanguageCodeArea];
    for (int i = 0; i < 3; ++i) {
        char c = name[(mark - english) + 1 + i];
        read[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    read[3] = '\0';
    char formed[kPathArea];
    if (std::strcmp(read, "ENU") == 0 || !FormLanguageName(english, read, formed) ||
        FindTextNoCase(formed, name) != 1)
        return false;
    return CopyText(code, read);
}

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
