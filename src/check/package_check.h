// One package fetched as the program fetches it, into a scratch folder,
// judged as the program would judge it, and removed. Nothing is run.
#pragma once

#include "check_report.h"

// Downloads `package` from the patch server into `scratchDirectory` (which
// ends in a backslash), fills the facts and deletes the file. `pins` are
// the release's ("NAME=HEX;..."; empty when unpinned). False when the file
// could not be removed, or the path or URL would not fit (nothing fetched).
bool CheckPackage(const char* scratchDirectory, const char* windows, const char* package,
                  const char* pins, PackageFacts& facts);
