// Code page 1252, the Linux port's ANSI code page, as Windows' own table has it: bytes below 0x80
// and from 0xA0 are the code points of the same number, 0x80-0x9F the 1252 punctuation, and the
// five bytes 1252 leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) the control characters of the
// same number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/codepage.h"  // AnsiOfUtf16, which this code page implements on Linux

/// The code point a byte stands for.
uint32_t UnicodeOfAnsi(unsigned char byte);
/// The byte that stands for a code point, or '?' when code page 1252 has none.
unsigned char AnsiOfUnicode(uint32_t codePoint);
/// Converts 1252 text to UTF-8 in `out`; returns 1, or 0 when it would not fit.
int Utf8OfAnsi(const char* text, char* out, size_t capacity);
/// Converts UTF-8 text to 1252 in `out`; returns 1, or 0 when it is not valid UTF-8, holds a
/// character that 1252 cannot hold, or would not fit.
int AnsiOfUtf8(const char* text, char* out, size_t capacity);
