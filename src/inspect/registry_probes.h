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

bool IsNtServerProduct();
bool IsTerminalServer();

// 1-based index of the first marker key found, 0 when there is none.
int FindInstalledUpdateMarker();
