// The preflight's JSON writer over the real ANSI code page (1252 on Linux and in the tests' Wine
// locale): the exact bytes of a document's layout and of each text's escapes and UTF-8.
#include "preflight/json_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Runs `write` between StartJson and EndJson; returns the bytes written.
std::string Written(const std::function<void(JsonWriter*)>& write) {
  std::string bytes;
  auto append = [](const char* from, size_t count, void* to) {
    static_cast<std::string*>(to)->append(from, count);
  };
  JsonWriter writer;
  StartJson(&writer, {append, &bytes});
  write(&writer);
  EndJson(&writer);
  return bytes;
}

struct TextCase {
  const char* name;
  const char* text;
  const char* json;
};

}  // namespace

// Nesting, separators, empty containers and every kind of value, one member or element a line.
TEST(JsonWriterTest, WritesNestedDocumentLayout) {
  std::string json = Written([](JsonWriter* writer) {
    OpenJsonObject(writer, nullptr);
    WriteJsonText(writer, "program", "preflight");
    OpenJsonArray(writer, "checks");
    OpenJsonObject(writer, nullptr);
    WriteJsonBool(writer, "passed", true);
    WriteJsonNumber(writer, "code", -9223372036854775807LL - 1);
    CloseJsonObject(writer);
    WriteJsonNumber(writer, nullptr, 0);
    OpenJsonArray(writer, nullptr);
    CloseJsonArray(writer);
    CloseJsonArray(writer);
    OpenJsonObject(writer, "empty");
    CloseJsonObject(writer);
    WriteJsonBool(writer, "skipped", false);
    CloseJsonObject(writer);
  });
  EXPECT_EQ(json,
            "{\n"
            "  \"program\": \"preflight\",\n"
            "  \"checks\": [\n"
            "    {\n"
            "      \"passed\": true,\n"
            "      \"code\": -9223372036854775808\n"
            "    },\n"
            "    0,\n"
            "    []\n"
            "  ],\n"
            "  \"empty\": {},\n"
            "  \"skipped\": false\n"
            "}\n");
}

// Levels opened past the deepest are left out with what goes into them; the rest stays balanced.
TEST(JsonWriterTest, LeavesOutLevelsPastTheDeepest) {
  std::string json = Written([](JsonWriter* writer) {
    for (int i = 0; i < kJsonMostDepth + 3; ++i) OpenJsonArray(writer, nullptr);
    WriteJsonBool(writer, nullptr, true);
    for (int i = 0; i < kJsonMostDepth + 3; ++i) CloseJsonArray(writer);
  });
  // The innermost array written holds nothing and closes right after its bracket.
  std::string expected = "[";
  for (int i = 1; i < kJsonMostDepth; ++i) expected += "\n" + std::string(2 * i, ' ') + "[";
  expected += "]";
  for (int i = kJsonMostDepth - 2; i >= 0; --i) expected += "\n" + std::string(2 * i, ' ') + "]";
  expected += "\n";
  EXPECT_EQ(json, expected);
}

// Each text becomes a JSON string of its characters in UTF-8, escaped where JSON needs it.
TEST(JsonWriterTest, WritesTextsAsEscapedUtf8) {
  const std::vector<TextCase> cases = {
      {"plain", "Example hotfix 1.2", "\"Example hotfix 1.2\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"short escapes", "\b\f\r\n\t", "\"\\b\\f\\r\\n\\t\""},
      {"other control characters", "\x01\x1B\x1F", "\"\\u0001\\u001b\\u001f\""},
      {"delete is written as it is", "\x7F", "\"\x7F\""},
      {"euro sign at 0x80", "\x80", "\"\xE2\x82\xAC\""},
      {"0x81 and 0x9D are control characters", "\x81\x9D", "\"\xC2\x81\xC2\x9D\""},
      {"e acute", "\xE9", "\"\xC3\xA9\""},
      {"y diaeresis at 0xFF", "\xFF", "\"\xC3\xBF\""},
      {"empty", "", "\"\""},
      {"null", nullptr, "null"},
  };
  for (const TextCase& item : cases) {
    SCOPED_TRACE(item.name);
    std::string json = Written([&](JsonWriter* writer) {
      OpenJsonObject(writer, nullptr);
      WriteJsonText(writer, "text", item.text);
      CloseJsonObject(writer);
    });
    EXPECT_EQ(json, std::string("{\n  \"text\": ") + item.json + "\n}\n");
  }
}
