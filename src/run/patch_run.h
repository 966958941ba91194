// One run of the program, from the installed-update check to the removal
// of the package file. Always answers 1, the program's exit code.
#pragma once

#include "../common/platform.h"

int RunPatch(HINSTANCE instance);

// "For assistance please call " + phone + " or go to " + web address.
const char* HelpLine();
