// The package file for this Windows, in its language where the release
// holds that language's package, the URL it is fetched from and the path it
// is saved to.
#pragma once

#include <cstddef>

#include "install_language.h"

constexpr size_t kPathArea = 260;
constexpr size_t kUrlArea = 256;

// Package file name for a version code; nullptr where no package exists.
// Code 5 has three: workstation, server and Terminal Server.
const char* SelectPatchPackage(int versionCode, bool isServerProduct, bool isTerminalServer);

// Same, asking this machine: IsNtServerProduct for code 5, and then
// IsTerminalServer only for a server.
const char* ChoosePatchPackage(int versionCode);

// The package this PC asks for: NameLanguagePackage with its install
// language and the pins the program was built with.
const char* ChooseLanguagePackage(const char* english, char (&name)[kPathArea]);

// `english` with `code` in place of its "-ENU.". False, with the name
// empty, for a name without a language (98 and Me) or a code that is not
// three capital letters.
bool FormLanguageName(const char* english, const char* code, char (&name)[kPathArea]);

// The name for `code` of the English package `english`: its "-ENU." with
// the code in its place, when `pins` (the release's) holds that name.
// Otherwise, and for the names without a language (98 and Me), the English
// name itself. The result is `english` or `name`.
const char* NameLanguagePackage(const char* english, const char* code, const char* pins,
                                char (&name)[kPathArea]);

// The code of the language (not English) that `name` is `english` in, read
// without regard to case: "DEU" for "windowsxp-kb835732-x86-deu.exe". False,
// with the code empty, for a name that is not one of `english`'s.
bool ReadNameLanguage(const char* english, const char* name, char (&code)[kLanguageCodeArea]);

// "http://" + patch server + "/patches/KB835732/".
const char* PatchServerBaseUrl();

// target = directory (ending in a backslash) + package; url = base + package.
// False, with both left empty, when either does not fit.
bool FormPatchPlan(const char* directory, const char* package, char (&targetPath)[kPathArea],
                   char (&downloadUrl)[kUrlArea]);
