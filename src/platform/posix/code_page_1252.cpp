// Conversions between code page 1252 and Unicode, for the UTF-16 readers and for paths, which
// are 1252 text inside the launcher and UTF-8 on the Linux file system.
#include "platform/posix/code_page_1252.h"

namespace {

constexpr uint16_t kHighCodePoints[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes one UTF-8 character at `text`, moving past it; returns false when it is malformed
// (overlong forms and surrogates included).
bool NextCodePoint(const unsigned char** text, uint32_t* codePoint) {
  const unsigned char* p = *text;
  int more = p[0] < 0x80                    ? 0
             : p[0] >= 0xC2 && p[0] <= 0xDF ? 1
             : (p[0] & 0xF0) == 0xE0        ? 2
             : p[0] >= 0xF0 && p[0] <= 0xF4 ? 3
                                            : -1;
  if (more < 0) return false;
  uint32_t value = more == 0 ? p[0] : p[0] & (0x3F >> more);
  for (int i = 1; i <= more; ++i) {
    if ((p[i] & 0xC0) != 0x80) return false;
    value = value << 6 | (p[i] & 0x3F);
  }
  static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (value < kLeast[more] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  *codePoint = value;
  *text = p + more + 1;
  return true;
}

}  // namespace

uint32_t UnicodeOfAnsi(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighCodePoints[byte - 0x80] : byte;
}

unsigned char AnsiOfUnicode(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<unsigned char>(codePoint);
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kHighCodePoints[i] == codePoint) return static_cast<unsigned char>(0x80 + i);
  }
  return '?';
}

size_t AnsiOfUtf16(const unsigned char* from, size_t units, unsigned char* to) {
  // Each unit is read before its byte is written, and byte i lies at or before unit i.
  for (size_t i = 0; i < units; ++i) {
    to[i] = AnsiOfUnicode(from[2 * i] | static_cast<uint32_t>(from[2 * i + 1]) << 8);
  }
  return units;
}

int Utf8OfAnsi(const char* text, char* out, size_t capacity) {
  size_t used = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    uint32_t c = UnicodeOfAnsi(*p);
    unsigned char bytes[3];
    size_t count = 0;
    if (c < 0x80) {
      bytes[count++] = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      bytes[count++] = static_cast<unsigned char>(0xC0 | c >> 6);
      bytes[count++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      bytes[count++] = static_cast<unsigned char>(0xE0 | c >> 12);
      bytes[count++] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
    if (used + count >= capacity) return 0;
    for (size_t i = 0; i < count; ++i) out[used++] = static_cast<char>(bytes[i]);
  }
  if (used >= capacity) return 0;
  out[used] = '\0';
  return 1;
}

int AnsiOfUtf8(const char* text, char* out, size_t capacity) {
  size_t used = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
    uint32_t c = 0;
    if (!NextCodePoint(&p, &c)) return 0;
    unsigned char byte = AnsiOfUnicode(c);
    if (byte == '?' && c != '?') return 0;
    if (used + 1 >= capacity) return 0;
    out[used++] = static_cast<char>(byte);
  }
  if (used >= capacity) return 0;
  out[used] = '\0';
  return 1;
}
