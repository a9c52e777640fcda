// The Linux port's ANSI code page is 1252 as Windows has it: every text is single-byte and every
// byte maps to a character, so there are no lead bytes and nothing is left unmapped.
#include "platform/codepage.h"

#include "platform/posix/code_page_1252.h"

bool IsAnsiLeadByte(unsigned char) { return false; }

int DecodeAnsiCharacter(const char* text, uint32_t* codePoint) {
  *codePoint = UnicodeOfAnsi(static_cast<unsigned char>(*text));
  return 1;
}
