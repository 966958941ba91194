// Which update package this Windows needs, and where it comes from and goes.
#pragma once

#include <cstddef>

constexpr size_t kPathArea = 260;
constexpr size_t kUrlArea = 256;

// The package for a version code, or nullptr when the update does not
// apply. For NT 4.0 (code 5) the edition decides among three packages.
const char* SelectPatchPackage(int versionCode, bool isServerProduct, bool isTerminalServer);

// The live choice: for code 5 asks IsNtServerProduct, and IsTerminalServer
// only when that is true.
const char* ChoosePatchPackage(int versionCode);

// "http://" + patch server + "/patches/KB835732/".
const char* PatchServerBaseUrl();

// target = directory (ending in a backslash) + package; url = base + package.
// False, with both left empty, when either does not fit.
bool FormPatchPlan(const char* directory, const char* package, char (&targetPath)[kPathArea],
                   char (&downloadUrl)[kUrlArea]);
