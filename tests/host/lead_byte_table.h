// The lead bytes of Windows' ANSI code pages that the host stand-in plays,
// as GetCPInfo reports them: 932 Japanese, 936 Simplified Chinese, 949
// Korean, 950 Traditional Chinese; 1252 has none. Checked against the real
// IsDBCSLeadByteEx under Wine (tests/wine/upper_case_table_test.cpp).
#pragma once

static const struct {
    unsigned codePage;
    unsigned char ranges[4]; // first and last lead byte, twice; 0 where unused
} kLeadByteRanges[] = {
    {932, {0x81, 0x9F, 0xE0, 0xFC}}, {936, {0x81, 0xFE, 0, 0}}, {949, {0x81, 0xFE, 0, 0}},
    {950, {0x81, 0xFE, 0, 0}},       {1252, {0, 0, 0, 0}},
};

inline bool IsLeadByteIn(unsigned codePage, unsigned char c)
{
    for (const auto& page : kLeadByteRanges) {
        if (page.codePage != codePage)
            continue;
        return (page.ranges[0] && c >= page.ranges[0] && c <= page.ranges[1]) ||
               (page.ranges[2] && c >= page.ranges[2] && c <= page.ranges[3]);
    }
    return false;
}
