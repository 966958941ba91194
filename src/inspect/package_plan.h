// The package file for this Windows, the URL it is fetched from and the
// path it is saved to.
#pragma once

#include <cstddef>

constexpr size_t kPathArea = 260;
constexpr size_t kUrlArea = 256;

// Package file name for a version code; nullptr where no package exists.
// Code 5 has three: workstation, server and Terminal Server.
const char* SelectPatchPackage(int versionCode, bool isServerProduct, bool isTerminalServer);

// Same, asking this machine: IsNtServerProduct for code 5, and then
// IsTerminalServer only for a server.
const char* ChoosePatchPackage(int versionCode);

// "http://" + patch server + "/patches/KB835732/".
const char* PatchServerBaseUrl();

// target = directory (ending in a backslash) + package; url = base + package.
// False, with both left empty, when either does not fit.
bool FormPatchPlan(const char* directory, const char* package, char (&targetPath)[kPathArea],
                   char (&downloadUrl)[kUrlArea]);
