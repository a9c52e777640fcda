// The double-byte rule of the platform's ANSI code page, and its characters as Unicode.
#pragma once

#include <cstddef>
#include <cstdint>

/// Says whether a byte is the lead byte of a double-byte character; its next byte is then never
/// a separator, a quote or a dot.
using LeadByteRule = bool (*)(unsigned char byte);

/// The rule of the running platform's ANSI code page (no lead bytes at all on Linux).
bool IsAnsiLeadByte(unsigned char byte);

/// Decodes the character of the ANSI code page that starts at `text` (not at its NUL): sets
/// *codePoint and returns the bytes it takes (1, or 2 for a double-byte character whose second
/// byte is not NUL). A byte sequence the code page does not map gives U+FFFD.
int DecodeAnsiCharacter(const char* text, uint32_t* codePoint);

/// Converts `units` UTF-16LE code units at `from` to the ANSI code page in `to`, one byte per unit
/// as Windows' readers convert a UTF-16 file: a unit the code page lacks as one byte (on Windows a
/// character of a double-byte code page too), each half of a surrogate pair included, becomes '?'.
/// `to` may be `from` or lie before it. Returns the bytes written, which is `units`.
size_t AnsiOfUtf16(const unsigned char* from, size_t units, unsigned char* to);
