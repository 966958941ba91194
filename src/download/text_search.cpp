#include "text_search.h"

#include <cstring>

#include "../common/characters.h"
#include "../common/platform.h"

namespace {

// Copies text into a private area and upper-cases it in the system code
// page; false when it does not fit the area.
bool UpperCopy(const char* text, char* area, size_t capacity)
{
    size_t n = strnlen(text, capacity);
    if (n >= capacity)
        return false;
    std::memcpy(area, text, n + 1);
    CharUpperBuffA(area, static_cast<DWORD>(n));
    return true;
}

int SearchForward(const char* text, const char* pattern, size_t textArea)
{
    static_assert(kSearchTextArea >= kShortTextArea, "text areas");
    char upperText[kSearchTextArea];
    char upperPattern[kSearchPatternArea];
    if (!UpperCopy(text, upperText, textArea) ||
        !UpperCopy(pattern, upperPattern, sizeof upperPattern))
        return 0;
    // A hit on the second byte of a character (of the caller's text) is no
    // hit: the search goes on from the next character.
    size_t at = 0;
    for (const char* hit = std::strstr(upperText, upperPattern); hit;
         hit = std::strstr(upperText + at, upperPattern)) {
        size_t offset = static_cast<size_t>(hit - upperText);
        while (at < offset)
            at += GetCharacterSize(text + at);
        if (at == offset)
            return static_cast<int>(offset) + 1;
    }
    return 0;
}

bool CutBounded(const char* start, size_t n, char* destination, size_t capacity)
{
    // Built in a work area first so that source and destination may overlap.
    char work[kCutArea];
    if (n >= capacity || n >= sizeof work) {
        if (capacity > 0)
            destination[0] = '\0';
        return false;
    }
    std::memcpy(work, start, n);
    work[n] = '\0';
    std::memcpy(destination, work, n + 1);
    return true;
}

} // namespace

int FindTextNoCase(const char* text, const char* pattern)
{
    return SearchForward(text, pattern, kSearchTextArea);
}

int ContainsTextNoCase(const char* text, const char* pattern)
{
    return SearchForward(text, pattern, kShortTextArea);
}

int FindLastTextNoCase(const char* text, const char* pattern)
{
    char upperText[kShortTextArea];
    char upperPattern[kShortTextArea];
    if (!UpperCopy(text, upperText, sizeof upperText) ||
        !UpperCopy(pattern, upperPattern, sizeof upperPattern))
        return 0;
    if (std::strcmp(upperText, upperPattern) == 0)
        return 1;
    size_t n = std::strlen(upperText);
    size_t m = std::strlen(upperPattern);
    // The last occurrence that starts a character: each character's start
    // is tried in turn (the second byte of one never is).
    int last = 0;
    for (size_t i = 0; i < n; i += GetCharacterSize(text + i)) {
        if (n - i >= m && std::memcmp(upperText + i, upperPattern, m) == 0)
            last = static_cast<int>(i);
    }
    return last;
}

bool CopyTailBounded(const char* source, char* destination, size_t capacity, int count)
{
    size_t length = std::strlen(source);
    size_t n = count <= 0 ? 0 : static_cast<size_t>(count);
    if (n > length)
        n = length;
    return CutBounded(source + (length - n), n, destination, capacity);
}

bool CopyHeadBounded(const char* source, char* destination, size_t capacity, int count)
{
    size_t n = count <= 0 ? 0 : static_cast<size_t>(count);
    size_t length = strnlen(source, n);
    if (n > length)
        n = length;
    return CutBounded(source, n, destination, capacity);
}
