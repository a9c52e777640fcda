// The preflight's JSON writer on arbitrary texts: input = key NUL text. The report must be valid
// UTF-8, hold exactly the escaped member, and give back each byte's 1252 character in order.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/posix/code_page_1252.h"
#include "preflight/json_writer.h"

namespace {

// Strict UTF-8: no stray continuation bytes, overlong forms, surrogates or code points past
// U+10FFFF.
bool IsValidUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    unsigned char lead = static_cast<unsigned char>(bytes[i]);
    int more = lead < 0x80                   ? 0
               : lead >= 0xC0 && lead < 0xE0 ? 1
               : lead >= 0xE0 && lead < 0xF0 ? 2
               : lead >= 0xF0 && lead < 0xF8 ? 3
                                             : -1;
    if (more < 0 || bytes.size() - i <= static_cast<size_t>(more)) return false;
    uint32_t value = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = value << 6 | (next & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (value < kLeast[more] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += more + 1;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The JSON string the writer is to make of 1252 bytes, written out independently of it.
std::string Escaped(const std::string& bytes) {
  std::string json;
  for (char byte : bytes) {
    uint32_t c = UnicodeOfAnsi(static_cast<unsigned char>(byte));
    const char* shortForm = c == '"'    ? "\\\""
                            : c == '\\' ? "\\\\"
                            : c == '\b' ? "\\b"
                            : c == '\f' ? "\\f"
                            : c == '\n' ? "\\n"
                            : c == '\r' ? "\\r"
                            : c == '\t' ? "\\t"
                                        : nullptr;
    if (shortForm != nullptr) {
      json += shortForm;
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      json += escape;
    } else if (c < 0x80) {
      json += static_cast<char>(c);
    } else if (c < 0x800) {
      json += static_cast<char>(0xC0 | c >> 6);
      json += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      json += static_cast<char>(0xE0 | c >> 12);
      json += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      json += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return json;
}

// Decodes the JSON string that starts at json[*at] (its opening quote) into code points, moving
// past its closing quote; returns false when it is not one. Knows the escapes JSON has but for
// surrogate pairs, which the writer never makes, and reads UTF-8 already found valid.
bool DecodeString(const std::string& json, size_t* at, std::vector<uint32_t>* codePoints) {
  size_t i = *at;
  if (i >= json.size() || json[i++] != '"') return false;
  while (i < json.size()) {
    unsigned char c = static_cast<unsigned char>(json[i++]);
    if (c == '"') {
      *at = i;
      return true;
    }
    if (c < 0x20) return false;
    if (c == '\\') {
      if (i >= json.size()) return false;
      char letter = json[i++];
      static constexpr char kLetters[] = "\"\\/bfnrt";
      static constexpr char kMeanings[] = "\"\\/\b\f\n\r\t";
      const char* known = letter != '\0' ? strchr(kLetters, letter) : nullptr;
      if (known != nullptr) {
        codePoints->push_back(static_cast<unsigned char>(kMeanings[known - kLetters]));
        continue;
      }
      if (letter != 'u' || json.size() - i < 4) return false;
      uint32_t value = 0;
      for (int k = 0; k < 4; ++k) {
        int digit = HexDigit(json[i++]);
        if (digit < 0) return false;
        value = value << 4 | static_cast<uint32_t>(digit);
      }
      if (value >= 0xD800 && value <= 0xDFFF) return false;
      codePoints->push_back(value);
      continue;
    }
    int more = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    uint32_t value = more == 0 ? c : c & (0x3F >> more);
    if (json.size() - i < static_cast<size_t>(more)) return false;
    for (int k = 0; k < more; ++k) value = value << 6 | (json[i++] & 0x3F);
    codePoints->push_back(value);
  }
  return false;
}

std::vector<uint32_t> CodePointsOf(const std::string& bytes) {
  std::vector<uint32_t> codePoints;
  for (char byte : bytes) codePoints.push_back(UnicodeOfAnsi(static_cast<unsigned char>(byte)));
  return codePoints;
}

void AppendTo(const char* bytes, size_t count, void* json) {
  static_cast<std::string*>(json)->append(bytes, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input{data, data + size};
  std::string key = input.Field();
  std::string text = input.Field();

  std::string json;
  JsonWriter writer;
  StartJson(&writer, {AppendTo, &json});
  OpenJsonObject(&writer, nullptr);
  WriteJsonText(&writer, ExactCopy(key).get(), ExactCopy(text).get());
  CloseJsonObject(&writer);
  EndJson(&writer);

  FUZZ_CHECK(IsValidUtf8(json));
  FUZZ_CHECK(json == "{\n  \"" + Escaped(key) + "\": \"" + Escaped(text) + "\"\n}\n");
  size_t at = 4;
  std::vector<uint32_t> keyCodePoints;
  std::vector<uint32_t> textCodePoints;
  FUZZ_CHECK(DecodeString(json, &at, &keyCodePoints));
  FUZZ_CHECK(json.compare(at, 2, ": ") == 0);
  at += 2;
  FUZZ_CHECK(DecodeString(json, &at, &textCodePoints));
  FUZZ_CHECK(keyCodePoints == CodePointsOf(key));
  FUZZ_CHECK(textCodePoints == CodePointsOf(text));
  return 0;
}
