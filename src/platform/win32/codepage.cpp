// The lead bytes and the characters of the ANSI code page Windows runs with.
#include "platform/codepage.h"

#include <windows.h>

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

}  // namespace

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

int DecodeAnsiCharacter(const char* text, uint32_t* codePoint) {
  // A lead byte right before the NUL stands alone: the NUL is never part of a character.
  int length = IsDBCSLeadByte(static_cast<BYTE>(text[0])) && text[1] != '\0' ? 2 : 1;
  wchar_t units[2];
  int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, length, units, 2);
  // Only a single unit outside the surrogate range is one code point by itself; a failure, two
  // units or a lone surrogate has no single code point to give.
  bool oneCharacter = count == 1 && (units[0] < 0xD800 || units[0] > 0xDFFF);
  *codePoint = oneCharacter ? units[0] : kReplacementCharacter;
  return length;
}

size_t AnsiOfUtf16(const unsigned char* from, size_t units, unsigned char* to) {
  for (size_t i = 0; i < units; ++i) {
    wchar_t unit = static_cast<wchar_t>(from[2 * i] | from[2 * i + 1] << 8);
    char bytes[4];
    BOOL defaulted = FALSE;
    int length = unit >= 0xD800 && unit <= 0xDFFF
                     ? 0
                     : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &unit, 1, bytes,
                                           sizeof bytes, nullptr, &defaulted);
    to[i] = length == 1 && !defaulted ? static_cast<unsigned char>(bytes[0]) : '?';
  }
  return units;
}
