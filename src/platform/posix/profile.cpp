// Profile (INI) files on Linux: a reader for one key of one section that gives what
// GetPrivateProfileStringA gives on Windows for the same file.
//
// The file is read whole. A UTF-16LE file (BOM FF FE) is turned into code page 1252 by Windows'
// table (platform/posix/code_page_1252.h), one byte per UTF-16 unit: a unit that 1252 lacks, each
// half of a surrogate pair included, becomes '?'.
// Any other file is taken byte for byte, a UTF-8 BOM included, so that a header on line 1 after
// such a BOM is not seen, as on Windows. Lines end at LF, CR LF or a lone CR; blanks, tabs, CR and
// byte 26 around a line are dropped and empty lines skipped. A header is a line that starts with
// '[' and holds a ']': the name lies between the '[' and the last ']'. Any other line is a key: its
// name runs to the first '=' and its value follows it; without '=' the value is empty. There are
// no comments. Names match without regard to ASCII case and to blanks around them; only the first
// section of a name is searched and its first matching key wins; keys before any header form the
// section "". A value loses one pair of matching outer quotes (' or ") and ends at a NUL byte.
//
// A run asks for its settings one key at a time: the file last read is kept for the rest of the
// process, so that every key comes from the same version of the file and the file is not opened
// and read again for each one.
#include "platform/profile.h"

#include <cstddef>
#include <cstring>

#include "platform/memory.h"
#include "platform/posix/code_page_1252.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/profile_text.h"

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

// The file's bytes as the text the reader searches: a UTF-16LE file becomes code page 1252 text in
// place. Returns the text's size.
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

// The last profile file read, kept for the rest of the process: its host path and its text, from
// AllocateBuffer (nullptr while none is kept).
struct KeptProfile {
  char* path;
  unsigned char* text;
  size_t size;
};
KeptProfile kept = {nullptr, nullptr, 0};

}  // namespace

int ReadProfileText(unsigned char* contents, size_t size, const char* section, const char* key,
                    char* buffer, int capacity) {
  return LookUpProfileText(contents, ToProfileText(contents, size), section, key, buffer, capacity);
}

int ReadProfileFile(const char* section, const char* key, char* buffer, int capacity,
                    const char* path) {
  if (capacity <= 0) return 0;
  buffer[0] = '\0';
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(path, mapped, sizeof mapped)) return 0;
  if (kept.path == nullptr || strcmp(kept.path, mapped) != 0) {
    size_t size = 0;
    unsigned char* contents = ReadRegularFile(mapped, &size);
    if (contents == nullptr) return 0;
    size = ToProfileText(contents, size);
    size_t pathSize = strlen(mapped) + 1;
    auto* keptPath = static_cast<char*>(AllocateBuffer(pathSize));
    if (keptPath == nullptr) {  // read this once without keeping it
      int copied = LookUpProfileText(contents, size, section, key, buffer, capacity);
      ReleaseBuffer(contents);
      return copied;
    }
    memcpy(keptPath, mapped, pathSize);
    ReleaseBuffer(kept.path);
    ReleaseBuffer(kept.text);
    kept = {keptPath, contents, size};
  }
  return LookUpProfileText(kept.text, kept.size, section, key, buffer, capacity);
}
