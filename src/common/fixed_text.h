// Bounded text helpers for caller-owned fixed arrays.
//
// Every copy into a fixed array in the program goes through these. A text
// that does not fit is refused (false) and the destination keeps a valid,
// NUL-terminated text; nothing is ever written past the array. The template
// forms take the array itself, so the capacity comes from its type.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "characters.h"

inline bool CopyTextBounded(char* dst, size_t capacity, const char* src)
{
    if (capacity == 0)
        return false;
    size_t n = std::strlen(src);
    if (n >= capacity) {
        dst[0] = '\0';
        return false;
    }
    std::memmove(dst, src, n + 1);
    return true;
}

// Appends src; on overflow the destination is left as it was.
inline bool AppendTextBounded(char* dst, size_t capacity, const char* src)
{
    size_t have = strnlen(dst, capacity);
    if (have >= capacity)
        return false;
    size_t n = std::strlen(src);
    if (n >= capacity - have)
        return false;
    std::memmove(dst + have, src, n + 1);
    return true;
}

// Copies as much of src as fits and always terminates; true when whole. A
// cut never splits a character.
inline bool CopyTextCut(char* dst, size_t capacity, const char* src, size_t srcLength)
{
    if (capacity == 0)
        return false;
    size_t n = srcLength < capacity - 1 ? srcLength : FitCharacters(src, srcLength, capacity - 1);
    std::memmove(dst, src, n);
    dst[n] = '\0';
    // cppcheck-suppress knownConditionTrueFalse ; true when the whole text fit
    return n == srcLength;
}

// Appends as much of src as fits; true when all of it did.
template <size_t N>
inline bool AppendTextCut(char (&dst)[N], const char* src)
{
    size_t have = strnlen(dst, N);
    return have < N && CopyTextCut(dst + have, N - have, src, std::strlen(src));
}

template <size_t N>
inline bool CopyText(char (&dst)[N], const char* src)
{
    return CopyTextBounded(dst, N, src);
}

template <size_t N>
inline bool AppendText(char (&dst)[N], const char* src)
{
    return AppendTextBounded(dst, N, src);
}

// Joins the parts in order into dst; all or nothing (empty text on overflow).
template <size_t N>
inline bool JoinText(char (&dst)[N], std::initializer_list<const char*> parts)
{
    dst[0] = '\0';
    for (const char* part : parts) {
        // cppcheck-suppress useStlAlgorithm ; a plain loop reads clearer here
        if (!AppendTextBounded(dst, N, part)) {
            dst[0] = '\0';
            return false;
        }
    }
    return true;
}
