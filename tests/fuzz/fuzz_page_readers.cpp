// Any bytes as a saved page: both readers and the cut must stay inside
// their arrays, terminate, and keep their result contracts.
//
// The readers get the page as their one read of the file would leave it,
// without the file: on a disk, a file per input held the fuzzer to some
// thousand inputs a second. The read is what the Windows runtime's text
// mode delivers, which the build machine's runtime cannot show: of the
// first 8190 bytes asked for, CR LF arrives as LF and a Ctrl-Z ends it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/signin_page.h"

namespace {

// Fills the zero-filled page as the read would; false when nothing arrives.
// Not instrumented: its branches are the harness's, not the readers'.
__attribute__((no_sanitize("coverage"))) bool ReadAsTextMode(const uint8_t* data, size_t size,
                                                             char (&page)[kPageArea], long& asked)
{
    std::memset(page, 0, sizeof page);
    asked = size > static_cast<size_t>(kPageReadCap) ? kPageReadCap : static_cast<long>(size);
    const void* ctrlZ = std::memchr(data, 0x1A, size);
    size_t end = ctrlZ ? static_cast<size_t>(static_cast<const uint8_t*>(ctrlZ) - data) : size;
    size_t delivered = 0;
    if (!std::memchr(data, '\r', end)) {
        delivered = end < static_cast<size_t>(asked) ? end : static_cast<size_t>(asked);
        std::memcpy(page, data, delivered);
        return delivered > 0;
    }
    for (size_t i = 0; i < end && delivered < static_cast<size_t>(asked); ++i) {
        if (data[i] == '\r' && i + 1 < end && data[i + 1] == '\n')
            continue;
        page[delivered++] = static_cast<char>(data[i]);
    }
    return delivered > 0;
}

void FillUrl(char (&url)[kFollowUrlArea])
{
    std::memset(url, 'U', sizeof url);
    url[sizeof url - 1] = '\0';
}

bool Untouched(const char (&url)[kFollowUrlArea])
{
    return url[0] == 'U' && std::strlen(url) == sizeof url - 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char page[kPageArea];
    long asked = 0;
    char url[kFollowUrlArea];
    if (ReadAsTextMode(data, size, page, asked)) {
        FillUrl(url);
        bool redirect = FindSignInRedirectInPage(page, asked, url);
        if (redirect && url[0] != '\0' &&
            std::strncmp(url, SignInLoginUrlPrefix(), std::strlen(SignInLoginUrlPrefix())) != 0)
            std::abort(); // a login URL always starts with the prefix
        if (!redirect && !Untouched(url))
            std::abort(); // false leaves the caller's URL alone

        ReadAsTextMode(data, size, page, asked);
        FillUrl(url);
        bool found = FindReturnUrlInPage(page, asked, url);
        if (std::strlen(url) >= sizeof url)
            std::abort();
        if (!found && url[0] != '\0' && !Untouched(url))
            std::abort(); // false leaves it alone, or empty where the link could not be cut
    }

    // The cut straight on the bytes, as page text.
    std::string text(reinterpret_cast<const char*>(data), size < 8191 ? size : 8191);
    char value[kFieldArea];
    if (ExtractBetweenMarkers(text.c_str(), value, "<a", ">", "\"", "\"") &&
        std::strlen(value) >= sizeof value)
        std::abort();
    return 0;
}
