#include "host_standin.h"

#include "lead_byte_table.h"

static unsigned g_codePage = 1252;

void SetHostCodePage(unsigned codePage)
{
    g_codePage = codePage;
}

BOOL IsDBCSLeadByte(BYTE c)
{
    return IsLeadByteIn(g_codePage, c);
}

// Upper-casing of Windows code page 1252, as CharUpperBuffA does it for
// that code page (checked against the real one under Wine, byte by byte).
static unsigned char UpperCp1252(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 0x20);
    switch (c) {
    case 0x9A: return 0x8A; // s caron
    case 0x9C: return 0x8C; // oe
    case 0x9E: return 0x8E; // z caron
    case 0xFF: return 0x9F; // y diaeresis
    default: break;
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<unsigned char>(c - 0x20);
    return c;
}

// Code page 1252's upper-casing whatever code page is played: it changes
// no byte that a double-byte code page's characters are tested with here.
DWORD CharUpperBuffA(LPSTR text, DWORD length)
{
    for (DWORD i = 0; i < length; ++i)
        text[i] = static_cast<char>(UpperCp1252(static_cast<unsigned char>(text[i])));
    return length;
}
