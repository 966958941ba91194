// Read-only registry and product probes.
#pragma once

#include <cstddef>

#include "../common/platform.h"

// Keys whose presence shows the update was applied before, in probe order.
constexpr int kInstalledUpdateMarkerCount = 3;
extern const char* const kInstalledUpdateMarkers[kInstalledUpdateMarkerCount];

bool IsRegistryKeyPresent(HKEY root, const char* subkey);

// The value's first string, cut to fit the caller's array; data without a
// NUL ends where the returned data ends. False leaves the empty text.
bool ReadRegistryStringBounded(HKEY root, const char* subkey, const char* valueName,
                               char* text, size_t capacity);

template <size_t N>
inline bool ReadRegistryString(HKEY root, const char* subkey, const char* valueName,
                               char (&text)[N])
{
    return ReadRegistryStringBounded(root, subkey, valueName, text, N);
}

bool IsNtServerProduct();
bool IsTerminalServer();

// Probes the markers in order and stops at the first present; its index
// from 1, or 0 when none is present.
int FindInstalledUpdateMarker();
