// The release's pins: each package it was made from, named with its SHA-256
// digest (site setting PATCHER_PACKAGE_SHA256, "NAME=HEX;...", written by
// scripts/release.sh from the package folder). The one reader of them, for
// the program and the site check alike; names compare without regard to
// case, as Windows compares file names.
#pragma once

#include <cstddef>

// The 64 hex digits (lower case) pinned for `package` in `pins`; false when
// none is. A malformed digest still counts as pinned, to an empty text that
// no file matches, so a slip in the setting refuses rather than waves through.
bool FindPinnedDigest(const char* pins, const char* package, char (&hex)[65]);

// The name of the pin at `cursor`, which then moves on to the next; false
// past the last. A name that does not fit is given as the empty text.
bool ReadPinnedNameBounded(const char*& cursor, char* name, size_t capacity);

template <size_t N>
inline bool ReadPinnedName(const char*& cursor, char (&name)[N])
{
    return ReadPinnedNameBounded(cursor, name, N);
}
