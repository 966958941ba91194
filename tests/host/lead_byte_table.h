// The lead bytes of the code pages the host stand-in plays, as GetCPInfo
// gives them (1252 has none); checked against Windows' own under Wine.
#pragma once

inline bool IsLeadByteIn(unsigned codePage, unsigned char c)
{
    if (codePage == 932)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    return (codePage == 936 || codePage == 949 || codePage == 950) && c >= 0x81 && c <= 0xFE;
}
