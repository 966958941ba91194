// WinINet, taken only from the system directory, and only when it has every
// function the program calls.
//
// WinINet is no KnownDLL, so a load by its bare name searches the program's
// own folder first: a wininet.dll lying beside the program on a Desktop or a
// share would run inside it. And WinINet comes with Internet Explorer: an
// old one may lack a function, which the delay-load helper would turn into
// an exception when the program first calls it.
#pragma once

#include "../common/platform.h"

// The system's WinINet, loaded by its full path with a reference of the
// caller's (FreeLibrary it when done), or null when it cannot be loaded or
// lacks any of the functions the program calls. Every WinINet call of the
// program comes after such a load, and the delay-load helper is handed the
// same module by its full path.
HMODULE LoadSystemWinInet();
