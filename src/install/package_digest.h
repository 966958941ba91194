// Pinning of the downloaded package to the SHA-256 digest the site published
// for it (the release's pins: src/inspect/package_pins.h).
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha256 {
    uint32_t state[8];
    uint64_t length;
    unsigned char block[64];
    size_t used;
};

void Sha256Begin(Sha256& sha);
void Sha256Add(Sha256& sha, const void* data, size_t size);
void Sha256End(Sha256& sha, unsigned char (&digest)[32]);

// The file's digest as 64 lower-case hex digits; false when unreadable.
bool DigestFile(const char* path, char (&hex)[65]);

// True when the file matches the digest `pins` holds for the package. With
// no pins at all (an unpinned build) every package passes; once anything is
// pinned, a package without a digest of its own is refused, so a pinned
// program only ever runs files its builder had in hand.
bool IsPackageAsPinnedTo(const char* pins, const char* path, const char* package);

#ifdef _WIN32
#include "../common/platform.h"

// The digest of the file open as `file` (from its start), read through that
// handle; false when it cannot be read.
bool DigestHeldFile(HANDLE file, char (&hex)[65]);

// IsPackageAsPinnedTo, with the pins this program was built with, for the
// package file held open for its launch (HoldPackageFile), its digest taken
// through that handle.
bool IsHeldPackageAsPinned(HANDLE file, const char* package);
#endif
