// Any bytes as a saved page: both readers and the cut must stay inside
// their arrays, terminate, and keep their result contracts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "download/signin_page.h"

static const char* PagePath()
{
    static std::string path = "/tmp/fuzz_page_" + std::to_string(getpid()) + ".htm";
    return path.c_str();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(PagePath(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    char url[kFollowUrlArea];
    std::memset(url, 'U', sizeof url);
    url[sizeof url - 1] = '\0';
    bool redirect = FindSignInRedirect(PagePath(), url);
    if (redirect && url[0] != '\0' &&
        std::strncmp(url, SignInLoginUrlPrefix(), std::strlen(SignInLoginUrlPrefix())) != 0)
        std::abort(); // a login URL always starts with the prefix
    if (!redirect && url[0] != 'U')
        std::abort(); // false leaves the caller's URL alone

    std::memset(url, 'U', sizeof url);
    url[sizeof url - 1] = '\0';
    FindReturnUrl(PagePath(), url);
    if (std::strlen(url) >= sizeof url)
        std::abort();

    // The cut straight on the bytes, as page text.
    std::string text(reinterpret_cast<const char*>(data), size < 8191 ? size : 8191);
    char value[kFieldArea];
    if (ExtractBetweenMarkers(text.c_str(), value, "<a", ">", "\"", "\"") &&
        std::strlen(value) >= sizeof value)
        std::abort();
    return 0;
}
