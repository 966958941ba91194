// The language Windows itself was installed in, and the package named for
// it. A package refuses to install on a Windows of another language, so a
// PC whose Windows is not English asks for its own language's package when
// the release holds it.
#pragma once

#include <cstddef>

#include "package_plan.h"

constexpr size_t kLanguageCodeArea = 4; // "DEU"

// The code that package names carry for a language ("DEU" in
// "WindowsXP-KB835732-x86-DEU.EXE"): `abbreviation` is what Windows gives
// for the language (LOCALE_SABBREVLANGNAME), mended where Microsoft's
// package names differ; every English is "ENU". False, with the code
// empty, when the result is not three capital letters.
bool ChoosePackageLanguage(unsigned languageId, const char* abbreviation,
                           char (&code)[kLanguageCodeArea]);

// A language identifier as Windows records it in the registry, in
// hexadecimal: "0407" (NT's install language) or "00000407" (a locale);
// 0 for any other text.
unsigned ParseLanguageId(const char* text);

// `english` with `code` in place of its "-ENU.". False, with the name
// empty, for a name without a language (98 and Me) or a code that is not
// three capital letters.
bool FormLanguageName(const char* english, const char* code, char (&name)[kPathArea]);

// The name for `code` of the English package `english`: its "-ENU." with
// the code in its place, when `pins` (the release's, "NAME=HEX;...") holds
// that name. Otherwise, and for the names without a language (98 and Me),
// the English name itself. The result is `english` or `name`.
const char* NameLanguagePackage(const char* english, const char* code, const char* pins,
                                char (&name)[kPathArea]);

#ifdef _WIN32
// This Windows' install language; 0 when it does not tell.
unsigned GetInstallLanguage();

// ChoosePackageLanguage for a language this Windows knows.
bool GetPackageLanguage(unsigned languageId, char (&code)[kLanguageCodeArea]);

// The package this PC asks for: NameLanguagePackage with its install
// language and the pins the program was built with.
const char* ChooseLanguagePackage(const char* english, char (&name)[kPathArea]);
#endif
