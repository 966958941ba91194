// Text in the system's ANSI code page, read by characters rather than bytes.
//
// On a double-byte code page (932 Japanese, 936 and 950 Chinese, 949
// Korean) the second byte of a character may be an ASCII byte, the
// backslash's among them: a byte search would find a backslash inside
// such a character. Everything that reads a path or the PC's text for a
// character goes through these. On a single-byte code page every character
// is one byte, and the results are the byte-wise ones.
#pragma once

#include <cstddef>

// The bytes of the character at `at`: 2 for a lead byte followed by its
// second byte, else 1 (0 at the terminator).
size_t GetCharacterSize(const char* at);

// The last character of `text` that is the single-byte character `c`;
// nullptr when there is none.
const char* FindLastCharacter(const char* text, char c);

// The bytes of the longest head of the `length` bytes at `text` (which need
// not be terminated there), at most `limit` of them, that does not end
// inside a character.
size_t FitCharacters(const char* text, size_t length, size_t limit);
