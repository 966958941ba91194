#include "signin_page.h"

#include <cstdio>
#include <cstring>

#include "../common/fixed_text.h"
#include "../common/platform.h"
#include "site_settings.h"
#include "text_search.h"

namespace {

const char kReturnUrlOpen[] = "<!-- The return_url -->";
const char kReturnUrlClose[] = "<!-- END return_url -->";
const char kLinkOpen[] = "<P><A HREF=";
const char kLinkClose[] = ";\">";
const char kRtField[] = "<INPUT type=\"hidden\" name=\"RT\" value=";
const char kStField[] = "<INPUT type=\"hidden\" name=\"ST\" value=";
const char kTagEnd[] = ">";
const char kQuote[] = "\"";
const char kBanner[] = "Tarrowin Keyloom";
const char kStJoin[] = ";ST=";

// One text-mode read of at most 8190 bytes into the zero-filled area, the
// way the runtime delivers it (CR LF as LF, Ctrl-Z ends the text). Gives
// the count L asked for; false when nothing arrived.
bool ReadSavedPage(const char* path, char (&area)[kPageArea], long& asked)
{
    std::memset(area, 0, sizeof area);
    FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    long length = _filelength(_fileno(file));
    asked = length < 0 ? 0 : (length > kPageReadCap ? kPageReadCap : length);
    size_t got = asked > 0 ? std::fread(area, 1, static_cast<size_t>(asked), file) : 0;
    std::fclose(file); // NOLINT(cert-err33-c): read only, a failed close loses nothing
    return got > 0;
}

// The one byte the readers write into the page: only within the read.
bool CutOffLastByteAsked(char (&page)[kPageArea], long asked)
{
    if (asked < 1 || asked > kPageReadCap)
        return false;
    page[asked - 1] = '\0';
    return true;
}

} // namespace

const char* SignInLoginUrlPrefix()
{
    return "https://" PATCHER_SIGNIN_HOST "/login/?RT=";
}

bool ExtractBetweenMarkersBounded(const char* pageText, char* value, size_t capacity,
                                  const char* opening, const char* closing,
                                  const char* innerOpening, const char* innerClosing)
{
    if (capacity == 0)
        return false;
    value[0] = '\0';
    char work[kCutArea];
    if (!CopyText(work, pageText))
        return false;

    // Keep what follows the first occurrence of a marker, or what precedes it.
    auto keepAfter = [&work](const char* marker) {
        int p = FindTextNoCase(work, marker);
        if (p <= 0)
            return false;
        int rest = static_cast<int>(std::strlen(work)) + 1 - p -
                   static_cast<int>(std::strlen(marker));
        return CopyTail(work, work, rest);
    };
    auto keepBefore = [&work](const char* marker) {
        int p = FindTextNoCase(work, marker);
        if (p <= 0)
            return false;
        return CopyHead(work, work, p - 1);
    };

    if (!keepAfter(opening) || !keepBefore(closing) || !keepAfter(innerOpening) ||
        !keepBefore(innerClosing))
        return false;
    if (FindTextNoCase(work, kQuote) == 1)
        CopyTail(work, work, static_cast<int>(std::strlen(work)) - 1);
    return CopyTextBounded(value, capacity, work);
}

bool FindSignInRedirectInPage(char (&page)[kPageArea], long asked, char (&url)[kFollowUrlArea])
{
    if (!std::strstr(page, kRtField)) {
        if (!std::strstr(page, kBanner))
            return false;
        url[0] = '\0';
        return true;
    }
    if (!CutOffLastByteAsked(page, asked))
        return false;

    char rt[kFieldArea];
    char st[kFieldArea];
    if (!ExtractBetweenMarkers(page, rt, kRtField, kTagEnd, kQuote, kQuote) ||
        !ExtractBetweenMarkers(page, st, kStField, kTagEnd, kQuote, kQuote))
        return false;

    char login[kFollowUrlArea];
    if (!JoinText(login, {SignInLoginUrlPrefix(), rt, kStJoin, st}))
        return false;
    return CopyText(url, login);
}

bool FindReturnUrlInPage(char (&page)[kPageArea], long asked, char (&url)[kFollowUrlArea])
{
    if (std::strstr(page, kReturnUrlOpen)) {
        if (!CutOffLastByteAsked(page, asked))
            return false;
        return ExtractBetweenMarkers(page, url, kReturnUrlOpen, kReturnUrlClose, kLinkOpen,
                                     kLinkClose);
    }
    if (!std::strstr(page, kBanner))
        return false;
    url[0] = '\0';
    return true;
}

bool FindSignInRedirect(const char* path, char (&url)[kFollowUrlArea])
{
    char page[kPageArea];
    long asked = 0;
    return ReadSavedPage(path, page, asked) && FindSignInRedirectInPage(page, asked, url);
}

bool FindReturnUrl(const char* path, char (&url)[kFollowUrlArea])
{
    char page[kPageArea];
    long asked = 0;
    return ReadSavedPage(path, page, asked) && FindReturnUrlInPage(page, asked, url);
}
