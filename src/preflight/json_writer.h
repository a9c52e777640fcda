// The preflight's JSON report: a writer that streams one document to a report output,
// pretty-printed with two spaces per level and one member or element per line.
#pragma once

#include "preflight/report_output.h"

inline constexpr int kJsonMostDepth = 16;

/// The state of one document being written; StartJson sets it up. Objects and arrays opened
/// beyond kJsonMostDepth levels are left out of the document with everything written into them.
struct JsonWriter {
  ReportOutput out;
  int depth;                          // objects and arrays open, those left out included
  bool hasItems[kJsonMostDepth + 1];  // per level, 0 the top: whether it holds a value yet
};

/// Starts an empty document on `out`.
void StartJson(JsonWriter* writer, const ReportOutput& out);
/// Each value below goes in as a member named `key` of the open object, or with `key` nullptr as
/// an element of the open array or as the document's one top-level value. Keys are ASCII.
void OpenJsonObject(JsonWriter* writer, const char* key);
void CloseJsonObject(JsonWriter* writer);
void OpenJsonArray(JsonWriter* writer, const char* key);
void CloseJsonArray(JsonWriter* writer);
/// Writes a NUL-terminated text of the ANSI code page as a JSON string in UTF-8, or null when
/// `text` is nullptr. A character the code page does not map becomes U+FFFD.
void WriteJsonText(JsonWriter* writer, const char* key, const char* text);
void WriteJsonNumber(JsonWriter* writer, const char* key, long long number);
void WriteJsonBool(JsonWriter* writer, const char* key, bool value);
/// Ends the document with its final line feed. Write failures are the output's to report.
void EndJson(JsonWriter* writer);
