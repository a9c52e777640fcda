// The profile reader against one table of INI files: on Linux our own reader, in the Windows build
// the system's, so that both builds are held to the same values.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// The Windows build's tests run under Wine, whose reader departs from Windows (and so from the
// port) in the rows that carry an expectation of their own.
constexpr bool kReaderIsWine = std::filesystem::path::preferred_separator == '\\';

struct ProfileCase {
  const char* name;
  std::string file;  // the file's bytes
  const char* section;
  const char* key;
  std::string expected;
  std::optional<std::string> expectedUnderWine;
};

std::string Letters(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::vector<ProfileCase> Cases() {
  const std::string sec = "[Sec]\r\n";
  return {
      {"names ignore case", sec + "Key=val\r\n", "sEC", "kEY", "val", {}},
      {"blanks around names and values",
       "  [ Sec ]\t\r\n\tKey  =  a  b \t\r\n",
       " Sec\t",
       " Key ",
       "a  b",
       {}},
      {"blanks inside a name count", sec + "My Key=v\r\n", "Sec", "My  Key", "", {}},
      {"double quotes", sec + "Key=\"quoted\"\r\n", "Sec", "Key", "quoted", {}},
      {"single quotes keep inner blanks", sec + "Key='  pad  '\r\n", "Sec", "Key", "  pad  ", {}},
      {"opening quote only", sec + "Key=\"open\r\n", "Sec", "Key", "\"open", {}},
      {"mixed quotes", sec + "Key=\"mixed'\r\n", "Sec", "Key", "\"mixed'", {}},
      {"lone quote", sec + "Key=\"\r\n", "Sec", "Key", "\"", {}},
      {"empty quotes", sec + "Key=\"\"\r\n", "Sec", "Key", "", {}},
      {"only the outer quotes go", sec + "Key=\"a\"b\"\r\n", "Sec", "Key", "a\"b", {}},
      {"quotes after blanks", sec + "Key=   \"x\"   \r\n", "Sec", "Key", "x", {}},
      {"text after the closing quote", sec + "Key=\"x\" ;c\r\n", "Sec", "Key", "\"x\" ;c", {}},
      {"';' starts no comment",
       sec + ";Key=semi\r\n#Key=hash\r\nKey=real ; note\r\n",
       "Sec",
       "Key",
       "real ; note",
       {}},
      {"';' is part of a key name", sec + ";Key=semi\r\n", "Sec", ";Key", "semi", {}},
      {"'#' is part of a key name", sec + "#Key=hash\r\n", "Sec", "#Key", "hash", {}},
      {"';' before a header", ";[Sec]\r\nKey=val\r\n", "Sec", "Key", "", {}},
      {"first key wins", sec + "Key=first\r\nKey=second\r\n", "Sec", "Key", "first", {}},
      {"first key wins without '='", sec + "Key\r\nKey=val\r\n", "Sec", "Key", "", {}},
      {"first of two sections",
       sec + "Key=first\r\n[Sec]\r\nKey=second\r\n",
       "Sec",
       "Key",
       "first",
       {}},
      {"second section never searched",
       sec + "A=1\r\n[Oth]\r\n[Sec]\r\nKey=second\r\n",
       "Sec",
       "Key",
       "",
       {}},
      {"header name up to the last ']'", "[Sec]x]\r\nKey=val\r\n", "Sec]x", "Key", "val", {}},
      {"header without ']' is a key",
       sec + "A=1\r\n[Other\r\nKey=val\r\n",
       "Sec",
       "Key",
       "val",
       {}},
      {"keys before any header", "Key=top\r\n[Sec]\r\nB=2\r\n", "", "Key", "top", {}},
      {"keys before any header stay there", "Key=top\r\n[Sec]\r\nB=2\r\n", "Sec", "Key", "", {}},
      {"'[]' is hidden by the unnamed section", "[]\r\nKey=val\r\n", "", "Key", "", {}},
      {"blank value", sec + "Key=  \t \r\n", "Sec", "Key", "", {}},
      {"'=' in a value", sec + "Key==a=b\r\n", "Sec", "Key", "=a=b", {}},
      {"LF line ends", "[Sec]\nKey=val\n", "Sec", "Key", "val", {}},
      {"lone CR line ends", "[Sec]\rA=1\rKey=val\r", "Sec", "Key", "val", {}},
      {"no line end at the end", sec + "Key=val", "Sec", "Key", "val", {}},
      {"byte 26 ending a line", sec + "Key=val\x1A", "Sec", "Key", "val", {}},
      {"byte 26 inside a value", sec + "Key=va\x1Al\r\n", "Sec", "Key", "va\x1Al", {}},
      {"NUL ends a value", sec + "Key=ab\0cd\r\n"s, "Sec", "Key", "ab", {}},
      {"ANSI bytes kept", sec + "Key=caf\xC3\xA9\r\n", "Sec", "Key", "caf\xC3\xA9", {}},
      {"UTF-8 BOM hides a header on line 1", "\xEF\xBB\xBF" + sec + "Key=caf\xC3\xA9\r\n", "Sec",
       "Key", "", "caf\xE9"},
      {"UTF-8 BOM is not decoded", "\xEF\xBB\xBF\r\n" + sec + "Key=caf\xC3\xA9\r\n", "Sec", "Key",
       "caf\xC3\xA9", "caf\xE9"},
      {"UTF-16LE BOM",
       Utf16File(u"[Sec]\r\nKey=caf\u00E9 \u20AC\u0178 \u4E2D\r\n"),
       "Sec",
       "Key",
       "caf\xE9 \x80\x9F ?",
       {}},
      {"UTF-16LE U+0081 and a lone surrogate",
       Utf16File(u"[Sec]\r\nKey=a\u0081z\xD83Dz\r\n"),
       "Sec",
       "Key",
       "a\x81z?z",
       {}},
      {"UTF-16LE surrogate pair: a '?' per unit",
       Utf16File(u"[Sec]\r\nKey=a\U0001F600b\r\n"),
       "Sec",
       "Key",
       "a??b",
       {}},
      {"value of 259", sec + "Key=" + Letters(259) + "\r\n", "Sec", "Key", Letters(259), {}},
      {"value cut at 259", sec + "Key=" + Letters(300) + "\r\n", "Sec", "Key", Letters(259), {}},
      {"quoted 258", sec + "Key=\"" + Letters(258) + "\"\r\n", "Sec", "Key", Letters(258), {}},
      {"quoted 259", sec + "Key=\"" + Letters(259) + "\"\r\n", "Sec", "Key", Letters(259),
       Letters(258)},
      {"quoted 260", sec + "Key=\"" + Letters(260) + "\"\r\n", "Sec", "Key", Letters(259), {}},
      {"missing key", sec + "Other=1\r\n", "Sec", "Key", "", {}},
  };
}

}  // namespace

// Each row gets a file of its own: the system reader caches a profile by name and write time.
TEST(ProfileTest, ReadsEachRowAsTheWindowsReaderDoes) {
  std::vector<ProfileCase> cases = Cases();
  for (size_t row = 0; row < cases.size(); ++row) {
    const ProfileCase& item = cases[row];
    SCOPED_TRACE(item.name);
    std::string name = "profile_test_" + std::to_string(row) + ".ini";
    FILE* out = std::fopen(name.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(item.file.data(), 1, item.file.size(), out), item.file.size());
    std::fclose(out);

    char buffer[260];
    std::memset(buffer, 'X', sizeof buffer);
    std::string path = ".\\" + name;
    int copied = ReadProfileString(item.section, item.key, buffer, sizeof buffer, path.c_str());
    const std::string& expected =
        kReaderIsWine && item.expectedUnderWine ? *item.expectedUnderWine : item.expected;
    ASSERT_GE(copied, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(copied)), expected);
    EXPECT_EQ(buffer[copied], '\0');
    std::remove(name.c_str());
  }
}

// A missing file gives an empty value; a short buffer cuts the value to its capacity.
TEST(ProfileTest, MissingFileAndShortBuffer) {
  char buffer[260];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(ReadProfileString("Sec", "Key", buffer, sizeof buffer, ".\\profile_test_none.ini"), 0);
  EXPECT_EQ(buffer[0], '\0');

  FILE* out = std::fopen("profile_test_short.ini", "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("[Sec]\r\nKey=\"value\"\r\n", out);
  std::fclose(out);
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(ReadProfileString("Sec", "Key", buffer, 4, ".\\profile_test_short.ini"), 3);
  EXPECT_STREQ(buffer, "val");
  std::remove("profile_test_short.ini");
}
