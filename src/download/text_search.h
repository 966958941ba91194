// Case-insensitive search and cutting of 8-bit ANSI text.
//
// Position conventions are part of the interface: the forward searches
// count from 1 (0 = not found); the backward search counts from 0 and
// answers 1 when text and pattern are equal, so 0 is both "absent" and
// "at index 0". Inputs longer than the work areas are refused (result 0 or
// an empty cut), never copied past an array.
#pragma once

#include <cstddef>

constexpr size_t kSearchPatternArea = 4096;
constexpr size_t kSearchTextArea = 8192;
constexpr size_t kShortTextArea = 4096;
constexpr size_t kCutArea = 8192;

int FindTextNoCase(const char* text, const char* pattern);
int ContainsTextNoCase(const char* text, const char* pattern);
int FindLastTextNoCase(const char* text, const char* pattern);

// Destination receives the last / first `count` characters of the source.
// A count of 0 or less gives the empty text; a count above the source's
// length takes the whole source. Source and destination may be the same
// array. False (and the empty text) when the result would not fit.
bool CopyTailBounded(const char* source, char* destination, size_t capacity, int count);
bool CopyHeadBounded(const char* source, char* destination, size_t capacity, int count);

template <size_t N>
inline bool CopyTail(const char* source, char (&destination)[N], int count)
{
    return CopyTailBounded(source, destination, N, count);
}

template <size_t N>
inline bool CopyHead(const char* source, char (&destination)[N], int count)
{
    return CopyHeadBounded(source, destination, N, count);
}
