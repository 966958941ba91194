// Removing the downloaded package: at once, or at the next restart (NT's
// delay-until-reboot, or a NUL= line in WININIT.INI's [rename] section on
// Windows 95, 98 and Me).
#pragma once

#include <cstddef>

constexpr size_t kRemovalErrorArea = 1326;

#ifdef _WIN32
bool RemoveDownloadedFile(const char* packagePath, char (&errorText)[kRemovalErrorArea],
                          bool& deferred);
#endif
