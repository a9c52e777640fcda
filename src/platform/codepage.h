// The double-byte rule of the platform's ANSI code page.
#pragma once

/// Says whether a byte is the lead byte of a double-byte character; its next byte is then never
/// a separator, a quote or a dot.
using LeadByteRule = bool (*)(unsigned char byte);

/// The rule of the running platform's ANSI code page (no lead bytes at all on Linux).
bool IsAnsiLeadByte(unsigned char byte);
