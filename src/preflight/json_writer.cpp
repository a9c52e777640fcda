// Writes the preflight's JSON report. Texts arrive in the ANSI code page and leave as UTF-8, so the
// report is valid UTF-8 and valid JSON whatever bytes a registry value or a file name holds.
#include "preflight/json_writer.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

void PutByte(const ReportOutput& out, int byte) {
  char text = static_cast<char>(byte);
  PutBytes(out, &text, 1);
}

void WriteIndent(const ReportOutput& out, int depth) {
  for (int i = 0; i < depth; ++i) PutText(out, "  ");
}

void WriteUtf8(const ReportOutput& out, uint32_t codePoint) {
  // The code page decoders give one UTF-16 unit at most: three bytes always suffice.
  if (codePoint > 0xFFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    codePoint = kReplacementCharacter;
  }
  if (codePoint < 0x80) {
    PutByte(out, static_cast<int>(codePoint));
  } else if (codePoint < 0x800) {
    PutByte(out, static_cast<int>(0xC0 | codePoint >> 6));
    PutByte(out, static_cast<int>(0x80 | (codePoint & 0x3F)));
  } else {
    PutByte(out, static_cast<int>(0xE0 | codePoint >> 12));
    PutByte(out, static_cast<int>(0x80 | (codePoint >> 6 & 0x3F)));
    PutByte(out, static_cast<int>(0x80 | (codePoint & 0x3F)));
  }
}

void WriteString(const ReportOutput& out, const char* text) {
  // The characters JSON has a short escape for, and the letter each is written with.
  static constexpr char kShortEscaped[] = "\"\\\b\f\n\r\t";
  static constexpr char kEscapeLetters[] = "\"\\bfnrt";
  PutByte(out, '"');
  while (*text != '\0') {
    uint32_t codePoint = 0;
    text += DecodeAnsiCharacter(text, &codePoint);
    const char* shortEscaped = codePoint != 0 && codePoint < 0x80
                                   ? strchr(kShortEscaped, static_cast<int>(codePoint))
                                   : nullptr;
    if (shortEscaped != nullptr) {
      PutByte(out, '\\');
      PutByte(out, kEscapeLetters[shortEscaped - kShortEscaped]);
    } else if (codePoint < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(codePoint));
      PutText(out, escape);
    } else {
      WriteUtf8(out, codePoint);
    }
  }
  PutByte(out, '"');
}

// Starts a value on a line of its own after the comma its predecessor needs; returns false when
// the value lies in a level left out of the document.
bool StartValue(JsonWriter* writer, const char* key) {
  if (writer->depth > kJsonMostDepth) return false;
  bool* hasItems = &writer->hasItems[writer->depth];
  if (*hasItems) {
    PutText(writer->out, ",\n");
  } else if (writer->depth > 0) {
    PutByte(writer->out, '\n');
  }
  *hasItems = true;
  WriteIndent(writer->out, writer->depth);
  if (key != nullptr) {
    WriteString(writer->out, key);
    PutText(writer->out, ": ");
  }
  return true;
}

// A level past the deepest is only counted, so that its close is matched, and is left out.
void Open(JsonWriter* writer, const char* key, char bracket) {
  if (writer->depth < kJsonMostDepth) {
    StartValue(writer, key);
    PutByte(writer->out, bracket);
    writer->hasItems[writer->depth + 1] = false;
  }
  ++writer->depth;
}

// An empty object or array closes right after its bracket: "{}" or "[]".
void Close(JsonWriter* writer, char bracket) {
  if (writer->depth == 0) return;
  --writer->depth;
  if (writer->depth >= kJsonMostDepth) return;
  if (writer->hasItems[writer->depth + 1]) {
    PutByte(writer->out, '\n');
    WriteIndent(writer->out, writer->depth);
  }
  PutByte(writer->out, bracket);
}

}  // namespace

void StartJson(JsonWriter* writer, const ReportOutput& out) {
  writer->out = out;
  writer->depth = 0;
  writer->hasItems[0] = false;
}

void OpenJsonObject(JsonWriter* writer, const char* key) { Open(writer, key, '{'); }

void CloseJsonObject(JsonWriter* writer) { Close(writer, '}'); }

void OpenJsonArray(JsonWriter* writer, const char* key) { Open(writer, key, '['); }

void CloseJsonArray(JsonWriter* writer) { Close(writer, ']'); }

void WriteJsonText(JsonWriter* writer, const char* key, const char* text) {
  if (!StartValue(writer, key)) return;
  if (text == nullptr) {
    PutText(writer->out, "null");
  } else {
    WriteString(writer->out, text);
  }
}

void WriteJsonNumber(JsonWriter* writer, const char* key, long long number) {
  if (!StartValue(writer, key)) return;
  char digits[24];
  std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
  PutBytes(writer->out, digits, static_cast<size_t>(end.ptr - digits));
}

void WriteJsonBool(JsonWriter* writer, const char* key, bool value) {
  if (StartValue(writer, key)) PutText(writer->out, value ? "true" : "false");
}

void EndJson(JsonWriter* writer) { PutByte(writer->out, '\n'); }
