// Readers of the web sign-in service's pages, saved by the download into
// the target file: the hidden-field page (RT and ST) that leads to the
// login URL, and the return-URL page that leads back to the package.
//
// Both answer false when the file is not a page of their kind; true with an
// empty URL when it is a sign-in page with nothing to follow. A value or URL
// that does not fit its array is a failed cut (false), never an overflow.
#pragma once

#include <cstddef>

constexpr size_t kPageArea = 8192;
constexpr long kPageReadCap = 8190;
constexpr size_t kFieldArea = 4096;
constexpr size_t kFollowUrlArea = 4096;

bool ExtractBetweenMarkersBounded(const char* pageText, char* value, size_t capacity,
                                  const char* opening, const char* closing,
                                  const char* innerOpening, const char* innerClosing);

template <size_t N>
inline bool ExtractBetweenMarkers(const char* pageText, char (&value)[N], const char* opening,
                                  const char* closing, const char* innerOpening,
                                  const char* innerClosing)
{
    return ExtractBetweenMarkersBounded(pageText, value, N, opening, closing, innerOpening,
                                        innerClosing);
}

bool FindSignInRedirect(const char* path, char (&url)[kFollowUrlArea]);
bool FindReturnUrl(const char* path, char (&url)[kFollowUrlArea]);

// The same readers on a page already read: `page` as the one read of the
// file left it (zero behind the bytes that arrived), `asked` the count that
// read asked for, from 1 to kPageReadCap. The byte at asked - 1 is cut off
// before the cuts. The fuzzer reaches the readers this way, without a file.
bool FindSignInRedirectInPage(char (&page)[kPageArea], long asked, char (&url)[kFollowUrlArea]);
bool FindReturnUrlInPage(char (&page)[kPageArea], long asked, char (&url)[kFollowUrlArea]);

// The login URL's fixed start, from the site settings.
const char* SignInLoginUrlPrefix();
