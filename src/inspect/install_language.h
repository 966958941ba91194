// The language Windows itself was installed in, as the code that package
// names carry for it. A package refuses to install on a Windows of another
// language; the package plan names the one this PC asks for.
#pragma once

#include <cstddef>

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

// Three capital letters and nothing more: the only text that is ever made
// part of a package's name.
bool IsLanguageCode(const char* text);

#ifdef _WIN32
// This Windows' install language; 0 when it does not tell.
unsigned GetInstallLanguage();

// ChoosePackageLanguage for a language this Windows knows.
bool GetPackageLanguage(unsigned languageId, char (&code)[kLanguageCodeArea]);
#endif
