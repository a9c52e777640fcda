// The profile (INI) reader's parser, over bytes in memory: what GetPrivateProfileStringA gives for
// one key of one section, as platform/posix/profile.cpp documents it. The Linux reader runs it over
// a file's bytes, and the preflight on both builds over a settings text it is given.
#include "platform/shared/profile_text.h"

#include <cstring>

#include "platform/codepage.h"

namespace {

constexpr unsigned char kEndOfFileByte = 26;

// A stretch of the file's text, not NUL-terminated.
struct Span {
  const char* begin;
  const char* end;
};

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == static_cast<char>(kEndOfFileByte);
}

Span Trim(Span span) {
  while (span.begin < span.end && IsProfileBlank(*span.begin)) ++span.begin;
  while (span.end > span.begin && IsProfileBlank(span.end[-1])) --span.end;
  return span;
}

// Names and values end at a NUL byte, as Windows keeps them as C strings.
Span UpToNul(Span span) {
  const void* nul = memchr(span.begin, '\0', static_cast<size_t>(span.end - span.begin));
  if (nul != nullptr) span.end = static_cast<const char*>(nul);
  return span;
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(Span found, Span wanted) {
  found = UpToNul(found);
  if (found.end - found.begin != wanted.end - wanted.begin) return false;
  for (const char *a = found.begin, *b = wanted.begin; a < found.end; ++a, ++b) {
    if (FoldCase(*a) != FoldCase(*b)) return false;
  }
  return true;
}

// Finds the value of the first `key` line in the first section named `section`.
bool FindValue(Span text, Span section, Span key, Span* value) {
  bool inSection = section.begin == section.end;  // the unnamed section before any header
  const char* at = text.begin;
  while (at < text.end) {
    const char* lineEnd = at;
    while (lineEnd < text.end && *lineEnd != '\n' && *lineEnd != '\r') ++lineEnd;
    Span line = Trim({at, lineEnd});
    at = lineEnd < text.end ? lineEnd + 1 : lineEnd;
    if (line.begin == line.end) continue;
    if (*line.begin == '[') {
      const char* close = line.end;
      while (close > line.begin + 1 && close[-1] != ']') --close;
      if (close > line.begin + 1) {
        if (inSection) return false;  // a later section of the same name is never searched
        inSection = SameName(Trim({line.begin + 1, close - 1}), section);
        continue;
      }
    }
    if (!inSection) continue;
    const void* equals = memchr(line.begin, '=', static_cast<size_t>(line.end - line.begin));
    const char* nameEnd = equals != nullptr ? static_cast<const char*>(equals) : line.end;
    if (!SameName(Trim({line.begin, nameEnd}), key)) continue;
    *value = equals != nullptr ? Trim({nameEnd + 1, line.end}) : Span{line.end, line.end};
    return true;
  }
  return false;
}

Span TrimmedName(const char* name) { return Trim({name, name + strlen(name)}); }

}  // namespace

size_t ToProfileText(unsigned char* contents, size_t size) {
  if (size >= 2 && contents[0] == 0xFF && contents[1] == 0xFE) {
    size = AnsiOfUtf16(contents + 2, (size - 2) / 2, contents);  // a cut last unit is dropped
  }
  return size;
}

int LookUpProfileText(const unsigned char* contents, size_t size, const char* section,
                      const char* key, char* buffer, int capacity) {
  if (capacity <= 0) return 0;
  buffer[0] = '\0';
  const char* text = reinterpret_cast<const char*>(contents);
  Span value;
  if (!FindValue({text, text + size}, TrimmedName(section), TrimmedName(key), &value)) return 0;
  value = UpToNul(value);
  size_t length = static_cast<size_t>(value.end - value.begin);
  if (length >= 2 && (*value.begin == '"' || *value.begin == '\'') &&
      value.end[-1] == *value.begin) {
    ++value.begin;
    length -= 2;
  }
  size_t copied =
      length < static_cast<size_t>(capacity) - 1 ? length : static_cast<size_t>(capacity) - 1;
  memcpy(buffer, value.begin, copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}

int ReadProfileText(unsigned char* contents, size_t size, const char* section, const char* key,
                    char* buffer, int capacity) {
  return LookUpProfileText(contents, ToProfileText(contents, size), section, key, buffer, capacity);
}
