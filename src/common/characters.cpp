#include "characters.h"

#include "platform.h"

namespace {

size_t SizeOf(unsigned char lead, unsigned char next)
{
    // No double-byte code page of Windows has a second byte below 0x40
    // (their lead bytes all lie from 0x81 up): after a lead byte, such a
    // byte, the terminator among them, stands on its own. Text in another
    // encoding (a page in UTF-8, say) so never hides a quote, a bracket or
    // the end of the text inside a character.
    return lead >= 0x80 && next >= 0x40 && IsDBCSLeadByte(lead) ? 2 : 1;
}

} // namespace

size_t GetCharacterSize(const char* at)
{
    unsigned char lead = static_cast<unsigned char>(at[0]);
    return lead == 0 ? 0 : SizeOf(lead, static_cast<unsigned char>(at[1]));
}

const char* FindLastCharacter(const char* text, char c)
{
    const char* found = nullptr;
    for (const char* at = text; *at; at += GetCharacterSize(at)) {
        if (*at == c)
            found = at;
    }
    return found;
}

size_t FitCharacters(const char* text, size_t length, size_t limit)
{
    size_t fits = 0;
    while (fits < length) {
        unsigned char next = fits + 1 < length ? static_cast<unsigned char>(text[fits + 1]) : 0;
        size_t size = SizeOf(static_cast<unsigned char>(text[fits]), next);
        if (fits + size > limit)
            break;
        fits += size;
    }
    return fits;
}
