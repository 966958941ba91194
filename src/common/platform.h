// The one place that decides where Windows declarations come from.
//
// The program is a Win32 program. The text routines and the sign-in page
// readers are also compiled for the build machine, under the sanitizers and
// the fuzzers; that build gets the few declarations it needs from a small
// stand-in that lives with the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include "host_standin.h"
#endif
