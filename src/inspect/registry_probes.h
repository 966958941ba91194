// What the registry and the extended version record say about this machine;
// nothing here writes.
#pragma once

#include <cstddef>

#include "../common/platform.h"

// An earlier install of the update leaves one of these keys; tried in order.
constexpr int kInstalledUpdateMarkerCount = 3;
extern const char* const kInstalledUpdateMarkers[kInstalledUpdateMarkerCount];

bool IsRegistryKeyPresent(HKEY root, const char* subkey);

// Reads a value as text: a string list gives its first string, too long a
// text is cut to the array, and data with no NUL stops at its end. On false
// the array holds the empty text.
bool ReadRegistryStringBounded(HKEY root, const char* subkey, const char* valueName, char* text,
                               size_t capacity);

template <size_t N>
inline bool ReadRegistryString(HKEY root, const char* subkey, const char* valueName,
                               char (&text)[N])
{
    return ReadRegistryStringBounded(root, subkey, valueName, text, N);
}

// Where Windows NT keeps its product type ("ProductType") and product suite.
extern const char kProductOptionsKey[];

// NT product types, as the extended version record and setup name them.
constexpr int kNtWorkstation = 1;      // "WinNT"
constexpr int kNtDomainController = 2; // "LanmanNT"
constexpr int kNtServer = 3;           // "ServerNT"

// The type named by the ProductType value under `subkey`; 0 when the value
// is missing, empty or another word.
int ReadRegistryProductType(HKEY root, const char* subkey);

// The extended version record's type where Windows gave one (1 to 3), else
// the registry's (`recordType` 0: the record was refused).
int ChooseNtProductType(BYTE recordType, HKEY root, const char* subkey);

// This machine's product type, 0 when neither source tells.
int ReadNtProductType();

// True for a server and for a domain controller, which is an NT server too:
// the workstation package's installer cannot update either.
bool IsNtServerProduct();
bool IsTerminalServer();

// 1-based index of the first marker key found, 0 when there is none.
int FindInstalledUpdateMarker();
