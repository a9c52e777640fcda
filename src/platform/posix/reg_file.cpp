// Import of a registry export (.reg) file, reduced to one key: one linear pass over the file that
// applies every line in order but keeps only the lines that touch the wanted key.
//
// What the import accepts (the registry editor's behaviour, as far as the launcher can meet it):
// - The first line is exactly "Windows Registry Editor Version 5.00" or "REGEDIT4"; any other
//   file is an empty registry. A file that starts with FF FE is UTF-16LE and is first converted
//   to code page 1252, the ANSI code page the port stands for, one byte per UTF-16 unit as the
//   registry's ANSI queries convert (a unit 1252 lacks, each half of a surrogate pair included,
//   becomes '?'); any other file is 8-bit text whose bytes are taken as they are. A cut UTF-16
//   file loses only its incomplete last unit. Lines end in CR LF, LF or CR.
// - "[HKEY_LOCAL_MACHINE\path]" (root also "HKLM", in any case) opens a key and creates it with
//   its parents; "[-...]" deletes a key with all its subkeys. Leading blanks, a trailing
//   backslash, empty path components and anything after the last ']' are ignored. A key line of
//   another root, or without ']', sends the values after it nowhere.
// - Value lines: "name" or @ (the default value), blanks, '=', blanks, then "text" (REG_SZ with
//   its NUL), dword:1-8 hex digits (REG_DWORD), hex:bytes (REG_BINARY), hex(type):bytes, or '-'
//   (deletes the value). In names and texts a backslash takes the next character literally, so
//   \\ and \" work. Bytes are 1-2 hex digits separated by commas; a list goes on in the next line
//   after ",\" (blank lines and comment lines may come between). In a UTF-16 file with the 5.00
//   header the bytes of hex(1), hex(2) and hex(7) are UTF-16LE, and are converted to code page
//   1252 as the ANSI query of the value reports them; elsewhere they are taken as they are.
// - Lines starting with ';' or '#' and blank lines are ignored; "text" or a byte list may be
//   followed by blanks and a ';' comment. Anything else is a bad line: it is skipped and changes
//   nothing. Key and value names match without regard to ASCII case; a later line overrides an
//   earlier one.
#include "platform/posix/reg_file.h"

#include <cstdint>
#include <cstring>

#include "platform/memory.h"
#include "platform/posix/code_page_1252.h"
#include "platform/registry.h"

namespace {

constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
constexpr char kVersion4Header[] = "REGEDIT4";
constexpr uint32_t kRegistryText = 1;        // REG_SZ
constexpr uint32_t kRegistryExpandText = 2;  // REG_EXPAND_SZ
constexpr uint32_t kRegistryBinary = 3;      // REG_BINARY
constexpr uint32_t kRegistryMultiText = 7;   // REG_MULTI_SZ
constexpr size_t kFirstPoolCapacity = 256;
constexpr size_t kFirstValueCapacity = 16;

// One value line applied to the key. Names and data live in the key's pool, so the record holds
// offsets, which stay valid when the pool grows.
struct StoredValue {
  size_t nameAt;
  size_t nameLength;
  size_t dataAt;
  uint32_t dataSize;
  uint32_t type;
  bool deleted;
};

}  // namespace

struct RegFileKey {
  bool exists;
  bool outOfMemory;
  // Value lines in file order, deletions included; the last line for a name decides.
  StoredValue* values;
  size_t valueCount;
  size_t valueCapacity;
  unsigned char* pool;
  size_t poolUsed;
  size_t poolCapacity;
};

namespace {

// The pass over the file: a cursor over its (8-bit) text and what the pass is looking for.
struct Import {
  const char* next;
  const char* end;
  bool unicodeHexText;  // hex(1), hex(2), hex(7) bytes are UTF-16LE
  const char* wantedPath;
  const char* wantedPathEnd;
  bool inWantedKey;  // the latest key line opened the wanted key
  RegFileKey* key;
};

enum class Relation { kUnrelated, kSame, kAbove, kBelow };

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  return static_cast<uint32_t>(c - 'A' + 10);
}

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const char* a, size_t aLength, const char* b, size_t bLength) {
  if (aLength != bLength) return false;
  for (size_t i = 0; i < aLength; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && IsBlank(*p)) ++p;
  return p;
}

// What may follow a complete value on its line: blanks, then nothing or a comment.
bool IsLineRestEmpty(const char* p, const char* end) {
  p = SkipBlanks(p, end);
  return p == end || *p == ';';
}

bool StartsWith(const char* p, const char* end, const char* prefix) {
  size_t length = strlen(prefix);
  return static_cast<size_t>(end - p) >= length && memcmp(p, prefix, length) == 0;
}

// Reads the next line without its line end; false at the end of the text.
bool ReadLine(Import* import, const char** line, const char** lineEnd) {
  if (import->next >= import->end) return false;
  const char* p = import->next;
  *line = p;
  while (p < import->end && *p != '\r' && *p != '\n') ++p;
  *lineEnd = p;
  if (p < import->end && *p++ == '\r' && p < import->end && *p == '\n') ++p;
  import->next = p;
  return true;
}

// Steps to the next non-empty component of a backslash-separated path.
bool NextComponent(const char** p, const char* end, const char** component, size_t* length) {
  while (*p < end && **p == '\\') ++*p;
  if (*p == end) return false;
  *component = *p;
  while (*p < end && **p != '\\') ++*p;
  *length = static_cast<size_t>(*p - *component);
  return true;
}

// Where the key `path` of a key line lies relative to the wanted key.
Relation RelateToWanted(const Import* import, const char* path, const char* pathEnd) {
  const char* wanted = import->wantedPath;
  for (;;) {
    const char* component = nullptr;
    const char* wantedComponent = nullptr;
    size_t length = 0;
    size_t wantedLength = 0;
    bool more = NextComponent(&path, pathEnd, &component, &length);
    bool wantedMore =
        NextComponent(&wanted, import->wantedPathEnd, &wantedComponent, &wantedLength);
    if (!more && !wantedMore) return Relation::kSame;
    if (!more) return Relation::kAbove;
    if (!wantedMore) return Relation::kBelow;
    if (!EqualIgnoringCase(component, length, wantedComponent, wantedLength)) {
      return Relation::kUnrelated;
    }
  }
}

bool IsMachineRoot(const char* root, const char* rootEnd) {
  size_t length = static_cast<size_t>(rootEnd - root);
  return EqualIgnoringCase(root, length, "HKEY_LOCAL_MACHINE", 18) ||
         EqualIgnoringCase(root, length, "HKLM", 4);
}

void ForgetValues(RegFileKey* key) {
  key->valueCount = 0;
  key->poolUsed = 0;
}

// `p` is just after the '['.
void ApplyKeyLine(Import* import, const char* p, const char* end) {
  import->inWantedKey = false;
  bool deleting = p < end && *p == '-';
  if (deleting) ++p;
  const char* close = end;
  while (close > p && close[-1] != ']') --close;
  if (close == p) return;
  --close;
  const char* rootEnd = p;
  while (rootEnd < close && *rootEnd != '\\') ++rootEnd;
  if (!IsMachineRoot(p, rootEnd)) return;
  Relation relation = RelateToWanted(import, rootEnd, close);
  if (deleting) {
    const char* rest = rootEnd;
    const char* component = nullptr;
    size_t length = 0;
    bool namesRootItself = !NextComponent(&rest, close, &component, &length);
    if (namesRootItself) return;  // the root keys cannot be deleted
    if (relation == Relation::kSame || relation == Relation::kAbove) {
      import->key->exists = false;
      ForgetValues(import->key);
    }
    return;
  }
  if (relation == Relation::kSame || relation == Relation::kBelow) import->key->exists = true;
  import->inWantedKey = relation == Relation::kSame;
}

bool ReservePool(RegFileKey* key, size_t more) {
  if (more <= key->poolCapacity - key->poolUsed) return true;
  size_t capacity = key->poolCapacity != 0 ? key->poolCapacity : kFirstPoolCapacity;
  while (capacity - key->poolUsed < more) {
    if (capacity > SIZE_MAX / 2) return false;
    capacity *= 2;
  }
  void* grown = ResizeBuffer(key->pool, key->poolCapacity, capacity);
  if (grown == nullptr) return false;
  key->pool = static_cast<unsigned char*>(grown);
  key->poolCapacity = capacity;
  return true;
}

bool AppendToPool(RegFileKey* key, const void* bytes, size_t length) {
  if (!ReservePool(key, length)) {
    key->outOfMemory = true;
    return false;
  }
  memcpy(key->pool + key->poolUsed, bytes, length);
  key->poolUsed += length;
  return true;
}

bool AppendByteToPool(RegFileKey* key, unsigned char byte) { return AppendToPool(key, &byte, 1); }

bool AppendValue(RegFileKey* key, const StoredValue& value) {
  if (key->valueCount == key->valueCapacity) {
    size_t capacity = key->valueCapacity != 0 ? key->valueCapacity * 2 : kFirstValueCapacity;
    void* grown = capacity < SIZE_MAX / sizeof(StoredValue)
                      ? ResizeBuffer(key->values, key->valueCapacity * sizeof(StoredValue),
                                     capacity * sizeof(StoredValue))
                      : nullptr;
    if (grown == nullptr) {
      key->outOfMemory = true;
      return false;
    }
    key->values = static_cast<StoredValue*>(grown);
    key->valueCapacity = capacity;
  }
  key->values[key->valueCount++] = value;
  return true;
}

// Reads a quoted name or text starting at its opening quote into the pool, without the quotes
// and with each backslash taking the next character literally; `*p` ends after the closing quote.
bool ReadQuoted(RegFileKey* key, const char** p, const char* end) {
  const char* q = *p + 1;
  while (q < end && *q != '"') {
    if (*q == '\\') ++q;
    if (q == end) return false;
    const char* run = q;
    ++q;
    while (q < end && *q != '"' && *q != '\\') ++q;
    if (!AppendToPool(key, run, static_cast<size_t>(q - run))) return false;
  }
  if (q == end) return false;
  *p = q + 1;
  return true;
}

bool ReadDword(RegFileKey* key, const char* p, const char* end) {
  p = SkipBlanks(p, end);
  uint32_t number = 0;
  size_t digits = 0;
  for (; p < end && IsHexDigit(*p); ++p, ++digits) {
    if (digits == 8) return false;
    number = (number << 4) | HexDigitValue(*p);
  }
  if (digits == 0 || !IsLineRestEmpty(p, end)) return false;
  unsigned char bytes[4] = {
      static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
      static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
  return AppendToPool(key, bytes, sizeof bytes);
}

// Reads "hex:" or "hex(type):" and steps past it.
bool ReadHexType(const char** p, const char* end, uint32_t* type) {
  if (StartsWith(*p, end, "hex:")) {
    *type = kRegistryBinary;
    *p += 4;
    return true;
  }
  if (!StartsWith(*p, end, "hex(")) return false;
  const char* q = *p + 4;
  uint32_t number = 0;
  size_t digits = 0;
  for (; q < end && IsHexDigit(*q); ++q, ++digits) {
    if (digits == 8) return false;
    number = (number << 4) | HexDigitValue(*q);
  }
  if (digits == 0 || !StartsWith(q, end, "):")) return false;
  *type = number;
  *p = q + 2;
  return true;
}

// Moves to the line that continues a byte list: the next one that is not blank or a comment.
// False when none follows, or when that line is no continuation; it then stays unread.
bool ReadContinuationLine(Import* import, const char** p, const char** end) {
  for (;;) {
    const char* before = import->next;
    const char* line = nullptr;
    const char* lineEnd = nullptr;
    if (!ReadLine(import, &line, &lineEnd)) return false;
    line = SkipBlanks(line, lineEnd);
    if (line == lineEnd || *line == ';' || *line == '#') continue;
    if (!IsHexDigit(*line)) {
      import->next = before;
      return false;
    }
    *p = line;
    *end = lineEnd;
    return true;
  }
}

bool ReadHexList(Import* import, const char* p, const char* end) {
  for (;;) {
    if (p < end && IsHexDigit(*p)) {
      uint32_t byte = HexDigitValue(*p++);
      if (p < end && IsHexDigit(*p)) byte = (byte << 4) | HexDigitValue(*p++);
      if (!AppendByteToPool(import->key, static_cast<unsigned char>(byte))) return false;
      if (p < end && *p == ',') {
        ++p;
        continue;
      }
      return IsLineRestEmpty(p, end);
    }
    const char* afterBlanks = SkipBlanks(p, end);
    if (afterBlanks < end && *afterBlanks == '\\') {
      if (!ReadContinuationLine(import, &p, &end)) return false;
      continue;
    }
    return IsLineRestEmpty(p, end);
  }
}

bool IsTextType(uint32_t type) {
  return type == kRegistryText || type == kRegistryExpandText || type == kRegistryMultiText;
}

// `p` is at the '"' or '@' that starts the line; only lines in the wanted key come here.
void ApplyValueLine(Import* import, const char* p, const char* end) {
  RegFileKey* key = import->key;
  size_t poolMark = key->poolUsed;
  StoredValue value = {};
  value.nameAt = key->poolUsed;
  bool ok = true;
  if (*p == '@') {
    ++p;
  } else {
    ok = ReadQuoted(key, &p, end);
  }
  value.nameLength = key->poolUsed - value.nameAt;
  p = SkipBlanks(p, end);
  ok = ok && p < end && *p == '=';
  if (ok) p = SkipBlanks(p + 1, end);
  value.dataAt = key->poolUsed;
  if (!ok || p == end) {
    ok = false;
  } else if (*p == '-') {
    value.deleted = true;
    ok = IsLineRestEmpty(p + 1, end);
  } else if (*p == '"') {
    value.type = kRegistryText;
    ok = ReadQuoted(key, &p, end) && AppendByteToPool(key, 0) && IsLineRestEmpty(p, end);
  } else if (StartsWith(p, end, "dword:")) {
    value.type = kRegistryDword;
    ok = ReadDword(key, p + 6, end);
  } else if (ReadHexType(&p, end, &value.type)) {
    ok = ReadHexList(import, p, end);
    if (ok && import->unicodeHexText && IsTextType(value.type)) {
      size_t units = (key->poolUsed - value.dataAt) / 2;
      unsigned char* data = key->pool + value.dataAt;
      key->poolUsed = value.dataAt + AnsiOfUtf16(data, units, data);
    }
  } else {
    ok = false;
  }
  size_t dataSize = key->poolUsed - value.dataAt;
  if (ok && dataSize > UINT32_MAX) ok = false;
  if (!ok) {
    key->poolUsed = poolMark;
    return;
  }
  value.dataSize = static_cast<uint32_t>(dataSize);
  if (!AppendValue(key, value)) key->poolUsed = poolMark;
}

void ApplyLines(Import* import) {
  const char* line = nullptr;
  const char* end = nullptr;
  while (!import->key->outOfMemory && ReadLine(import, &line, &end)) {
    const char* p = SkipBlanks(line, end);
    if (p == end) continue;
    if (*p == '[') {
      ApplyKeyLine(import, p + 1, end);
    } else if ((*p == '"' || *p == '@') && import->inWantedKey) {
      ApplyValueLine(import, p, end);
    }
    // Comments, bad lines and the values of other keys change nothing here.
  }
}

bool IsLine(const char* line, const char* end, const char* text) {
  return static_cast<size_t>(end - line) == strlen(text) && StartsWith(line, end, text);
}

}  // namespace

RegFileKey* ImportRegFileKey(const unsigned char* file, size_t length, const char* path) {
  auto* key = static_cast<RegFileKey*>(AllocateBuffer(sizeof(RegFileKey)));
  if (key == nullptr) return nullptr;
  Import import = {};
  import.key = key;
  import.wantedPath = path;
  import.wantedPathEnd = path + strlen(path);
  unsigned char* converted = nullptr;
  bool utf16 = length >= 2 && file[0] == 0xFF && file[1] == 0xFE;
  if (utf16) {
    size_t units = (length - 2) / 2;  // a cut last unit is dropped
    converted = static_cast<unsigned char*>(AllocateBuffer(units + 1));
    if (converted == nullptr) {
      ReleaseRegFileKey(key);
      return nullptr;
    }
    import.next = reinterpret_cast<const char*>(converted);
    import.end = import.next + AnsiOfUtf16(file + 2, units, converted);
  } else {
    import.next = reinterpret_cast<const char*>(file);
    import.end = import.next + length;
  }
  const char* header = nullptr;
  const char* headerEnd = nullptr;
  if (ReadLine(&import, &header, &headerEnd)) {
    bool version5 = IsLine(header, headerEnd, kVersion5Header);
    import.unicodeHexText = utf16 && version5;
    if (version5 || IsLine(header, headerEnd, kVersion4Header)) ApplyLines(&import);
  }
  ReleaseBuffer(converted);
  if (key->outOfMemory || !key->exists) {
    ReleaseRegFileKey(key);
    return nullptr;
  }
  return key;
}

int FindRegFileValue(const RegFileKey* key, const char* name, uint32_t* type,
                     const unsigned char** data, uint32_t* size) {
  size_t nameLength = strlen(name);
  for (size_t i = key->valueCount; i > 0; --i) {
    const StoredValue& value = key->values[i - 1];
    const char* storedName = reinterpret_cast<const char*>(key->pool + value.nameAt);
    if (!EqualIgnoringCase(storedName, value.nameLength, name, nameLength)) continue;
    if (value.deleted) return 0;
    *type = value.type;
    *data = key->pool + value.dataAt;
    *size = value.dataSize;
    return 1;
  }
  return 0;
}

void ReleaseRegFileKey(RegFileKey* key) {
  if (key == nullptr) return;
  ReleaseBuffer(key->values);
  ReleaseBuffer(key->pool);
  ReleaseBuffer(key);
}
