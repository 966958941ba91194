#include "install_language.h"

#include <cstring>

#include "../common/fixed_text.h"

#ifdef _WIN32
#include "registry_probes.h"
#include "windows_version.h"
#endif

namespace {

// Where Microsoft's package names differ from Windows' own abbreviation of
// the language. English of every country gets the one English package.
const struct {
    unsigned languageId;
    const char* code;
} kPackageCodes[] = {
    {0x040A, "ESN"}, // Spanish, traditional sort ("ESP"): the one Spanish Windows
    {0x0814, "NOR"}, // Norwegian Nynorsk ("NON"): the Norwegian Windows is Bokmål
};
const unsigned kPrimaryEnglish = 0x09;

} // namespace

bool IsLanguageCode(const char* text)
{
    for (int i = 0; i < 3; ++i)
        if (text[i] < 'A' || text[i] > 'Z')
            return false;
    return text[3] == '\0';
}

bool ChoosePackageLanguage(unsigned languageId, const char* abbreviation,
                           char (&code)[kLanguageCodeArea])
{
    code[0] = '\0';
    const char* chosen = (languageId & 0x3FF) == kPrimaryEnglish ? "ENU" : abbreviation;
    for (const auto& entry : kPackageCodes) {
        if (entry.languageId == languageId)
            // cppcheck-suppress useStlAlgorithm ; a table look-up reads clearer
            chosen = entry.code;
    }
    return IsLanguageCode(chosen) && CopyText(code, chosen);
}

unsigned ParseLanguageId(const char* text)
{
    size_t length = strnlen(text, 9);
    if (length != 4 && length != 8)
        return 0;
    unsigned long value = 0;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        int digit = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
        if (digit < 0)
            return 0;
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    // A locale's sort order lies above its language.
    return static_cast<unsigned>(value & 0xFFFF);
}

#ifdef _WIN32
unsigned GetInstallLanguage()
{
    // Windows 2000 and later tell it; Windows 95 and NT 4.0 lack the call,
    // and keep it in the registry: NT as setup wrote it, 9x as the language
    // of its own resources.
    OSVERSIONINFOA version = GetOsVersionInfo();
    bool nt = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (nt && version.dwMajorVersion >= 5) {
        typedef LANGID(WINAPI * Query)();
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        FARPROC found = kernel ? GetProcAddress(kernel, "GetSystemDefaultUILanguage") : nullptr;
        if (found)
            return reinterpret_cast<Query>(reinterpret_cast<void (*)()>(found))();
    }
    char text[16];
    if (nt)
        ReadRegistryString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language",
                           "InstallLanguage", text);
    else
        ReadRegistryString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ResourceLocale", text);
    return ParseLanguageId(text);
}

bool GetPackageLanguage(unsigned languageId, char (&code)[kLanguageCodeArea])
{
    char abbreviation[16];
    LCID locale = MAKELCID(static_cast<LANGID>(languageId), SORT_DEFAULT);
    if (languageId == 0 ||
        !GetLocaleInfoA(locale, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation))
        abbreviation[0] = '\0';
    return ChoosePackageLanguage(languageId, abbreviation, code);
}
#endif
