#include "registry_probes.h"

#include <cstring>

#include "../common/fixed_text.h"
#include "../download/text_search.h"

const char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

const char* const kInstalledUpdateMarkers[kInstalledUpdateMarkerCount] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KB835732",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\Updates\\WinME\\UPD828028",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\Updates\\W98\\UPDQ828028",
};

bool IsRegistryKeyPresent(HKEY root, const char* subkey)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadRegistryStringBounded(HKEY root, const char* subkey, const char* valueName, char* text,
                               size_t capacity)
{
    if (capacity == 0)
        return false;
    text[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    BYTE data[4096];
    DWORD type = 0;
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    if (size > sizeof data)
        size = sizeof data;
    const char* chars = reinterpret_cast<const char*>(data);
    CopyTextCut(text, capacity, chars, strnlen(chars, size));
    return true;
}

int ReadRegistryProductType(HKEY root, const char* subkey)
{
    // Longer than any of the words, so that a longer value cut to fit can
    // never read as one of them.
    char word[64];
    if (!ReadRegistryString(root, subkey, "ProductType", word))
        return 0;
    static const struct {
        const char* word;
        int type;
    } kWords[] = {{"WinNT", kNtWorkstation},
                  {"LanmanNT", kNtDomainController},
                  {"ServerNT", kNtServer}};
    for (const auto& known : kWords) {
        if (std::strlen(word) == std::strlen(known.word) && FindTextNoCase(word, known.word) == 1)
            return known.type;
    }
    return 0;
}

int ChooseNtProductType(BYTE recordType, HKEY root, const char* subkey)
{
    if (recordType == kNtWorkstation || recordType == kNtDomainController ||
        recordType == kNtServer)
        return recordType;
    return ReadRegistryProductType(root, subkey);
}

int ReadNtProductType()
{
    OSVERSIONINFOEXA record;
    std::memset(&record, 0, sizeof record);
    record.dwOSVersionInfoSize = sizeof record;
    // NT 4.0 before Service Pack 6 refuses the extended record; the product
    // type is then the one its setup wrote into the registry.
    BYTE recordType = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record))
                          ? record.wProductType
                          : 0;
    return ChooseNtProductType(recordType, HKEY_LOCAL_MACHINE, kProductOptionsKey);
}

bool IsNtServerProduct()
{
    int type = ReadNtProductType();
    return type == kNtServer || type == kNtDomainController;
}

bool IsTerminalServer()
{
    char suite[255];
    std::memset(suite, 0, sizeof suite);
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, kProductOptionsKey, "ProductSuite", suite))
        return false;
    return ContainsTextNoCase(suite, "Terminal Server") != 0;
}

int FindInstalledUpdateMarker()
{
    for (int i = 0; i < kInstalledUpdateMarkerCount; ++i) {
        if (IsRegistryKeyPresent(HKEY_LOCAL_MACHINE, kInstalledUpdateMarkers[i]))
            return i + 1;
    }
    return 0;
}
