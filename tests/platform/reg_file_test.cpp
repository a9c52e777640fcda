// The Linux registry against real HKLM.reg files in a temporary prefix: what a key and a value
// read back as after the import, byte for byte, with RegQueryValueExA's size rules.
#include "platform/posix/reg_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "scoped_prefix.h"

namespace {

using namespace std::string_view_literals;

enum class Form { kAnsi, kUtf16, kUtf16OddByte };

struct Row {
  const char* label;
  Form form;
  std::string_view body;  // the file after the 5.00 header line and a blank line
  const char* path;
  const char* name;
  bool opens;
  bool found;
  uint32_t type;
  std::string_view bytes;
};

// A header-less body: the file is exactly the body.
constexpr std::string_view kAsIs = "<as is>";

std::string WithCrLf(std::string_view text) {
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? "\r\n" : std::string(1, c);
  return crlf;
}

// UTF-16LE with its BOM, as the export tool writes.
std::string Utf16(std::string_view latin1) {
  std::string bytes = "\xFF\xFE";
  for (char c : latin1) bytes += std::string{c, '\0'};
  return bytes;
}

std::string FileFor(Form form, std::string_view header, std::string_view body) {
  std::string text = std::string(header) + std::string(body);
  if (form == Form::kAnsi) return text;
  std::string utf16 = Utf16(WithCrLf(text));
  return form == Form::kUtf16 ? utf16 : utf16 + "X";
}

class RegFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/reg_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    prefix_ = pattern;
    scoped_ = std::make_unique<ScopedPrefix>(prefix_);
  }
  void TearDown() override {
    unlink(FilePath().c_str());
    rmdir(prefix_.c_str());
    scoped_.reset();
  }
  std::string FilePath() const { return prefix_ + "/HKLM.reg"; }
  void WriteFile(const std::string& bytes) const {
    FILE* out = fopen(FilePath().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    fclose(out);
  }

  // Reads each row's value as the launcher does: a size query, then a read into a buffer of
  // exactly that size, then one byte less, which must be refused with the full size reported.
  void ExpectRows(const std::vector<Row>& rows) const {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.label);
      if (row.body.starts_with(kAsIs)) {
        WriteFile(FileFor(row.form, "", row.body.substr(kAsIs.size())));
      } else {
        WriteFile(FileFor(row.form, "Windows Registry Editor Version 5.00\n\n", row.body));
      }
      RegistryKey* key = OpenMachineKey(row.path, RegistryView::kLauncher);
      EXPECT_EQ(key != nullptr, row.opens);
      if (key == nullptr) continue;
      uint32_t type = 0xDEAD;
      uint32_t size = 0xDEAD;
      EXPECT_EQ(QueryRegistryValue(key, row.name, &type, nullptr, &size), row.found ? 1 : 0);
      EXPECT_EQ(type, row.found ? row.type : 0);
      EXPECT_EQ(size, row.found ? row.bytes.size() : 0);
      if (row.found) {
        std::string buffer(size + 1, '\xCC');
        auto* data = reinterpret_cast<unsigned char*>(buffer.data());
        uint32_t exact = size;
        EXPECT_EQ(QueryRegistryValue(key, row.name, &type, data, &exact), 1);
        EXPECT_EQ(exact, size);
        EXPECT_EQ(buffer, std::string(row.bytes) + "\xCC");
        if (size > 0) {
          uint32_t less = size - 1;
          EXPECT_EQ(QueryRegistryValue(key, row.name, &type, data, &less), 0);
          EXPECT_EQ(less, size);
        }
      }
      CloseRegistryKey(key);
    }
  }

  std::string prefix_;
  std::unique_ptr<ScopedPrefix> scoped_;
};

}  // namespace

// Each kind of data line is stored with the type and the exact bytes the registry would hold.
TEST_F(RegFileTest, ValueData) {
  ExpectRows({
      {"text keeps its NUL", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"abc\"", "A", "v", true, true, 1,
       "abc\0"sv},
      {"empty text is just the NUL", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"\"", "A", "v", true, true, 1,
       "\0"sv},
      {"hex(1) without bytes", Form::kAnsi, "[HKLM\\A]\n\"v\"=hex(1):", "A", "v", true, true, 1,
       ""},
      {"hex(1) without a NUL", Form::kAnsi, "[HKLM\\A]\n\"v\"=hex(1):68,69", "A", "v", true, true,
       1, "hi"},
      {"dword 257", Form::kAnsi, "[HKLM\\A]\n\"v\"=dword:00000101", "A", "v", true, true, 4,
       "\x01\x01\0\0"sv},
      {"dword one digit", Form::kAnsi, "[HKLM\\A]\n\"v\"=dword:7", "A", "v", true, true, 4,
       "\x07\0\0\0"sv},
      {"dword upper case", Form::kAnsi, "[HKLM\\A]\n\"v\"=dword:FFFFFFFE", "A", "v", true, true, 4,
       "\xFE\xFF\xFF\xFF"},
      {"dword after a blank", Form::kAnsi, "[HKLM\\A]\n\"v\"=dword: 2a", "A", "v", true, true, 4,
       "\x2a\0\0\0"sv},
      {"hex(4) is a dword", Form::kAnsi, "[HKLM\\A]\n\"v\"=hex(4):01,01,00,00", "A", "v", true,
       true, 4, "\x01\x01\0\0"sv},
      {"type number in hex", Form::kAnsi, "[HKLM\\A]\n\"v\"=hex(b):01,02", "A", "v", true, true, 11,
       "\x01\x02"},
      {"short bytes, trailing comma", Form::kAnsi, "[HKLM\\A]\n\"v\"=hex:1,ff,", "A", "v", true,
       true, 3, "\x01\xFF"},
      {"continued list", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=hex:01,02,\\\n  03,\\ ; note\n\n; comment\n  04", "A", "v", true, true, 3,
       "\x01\x02\x03\x04"},
      {"blanks around =", Form::kAnsi, "[HKLM\\A]\n\"v\" = \"x\"", "A", "v", true, true, 1,
       "x\0"sv},
      {"comment after text", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"x\" ; note", "A", "v", true, true, 1,
       "x\0"sv},
      {"escapes", Form::kAnsi, R"([HKLM\A]
"v"="back\\slash \"q\" \n")",
       "A", "v", true, true, 1, "back\\slash \"q\" n\0"sv},
  });
}

// Names match without regard to case; the last line for a name decides.
TEST_F(RegFileTest, ValueNames) {
  // Enough values and text to grow both of the key's stores: the first value survives each move.
  std::string many = "[HKLM\\A]";
  for (int i = 0; i < 40; ++i) {
    many += "\n\"v" + std::to_string(i) + "\"=\"" +
            std::string(40, static_cast<char>('a' + i % 26)) + "\"";
  }
  const std::string firstBytes = std::string(40, 'a') + '\0';
  ExpectRows({
      {"first of many values", Form::kAnsi, many, "A", "v0", true, true, 1, firstBytes},
      {"default value", Form::kAnsi, "[HKLM\\A]\n@=\"d\"", "A", "", true, true, 1, "d\0"sv},
      {"escaped name", Form::kAnsi, R"([HKLM\A]
"n \"q\" \\"="v")",
       "A", "n \"q\" \\", true, true, 1, "v\0"sv},
      {"case of key and name", Form::kAnsi, "[hkey_local_machine\\SOFTWARE\\Probe]\n\"Name\"=\"x\"",
       "software\\PROBE", "NAME", true, true, 1, "x\0"sv},
      {"later line overrides", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=\"1\"\n[HKLM\\B]\n\"v\"=\"2\"\n[HKLM\\A]\n\"v\"=dword:3", "A", "v", true,
       true, 4, "\x03\0\0\0"sv},
      {"value deleted", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"1\"\n\"v\"= -", "A", "v", true, false, 0,
       ""},
      {"deleted, then set again", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"1\"\n\"v\"=-\n\"v\"=\"2\"", "A",
       "v", true, true, 1, "2\0"sv},
  });
}

// Which key lines open, create and delete keys of HKEY_LOCAL_MACHINE.
TEST_F(RegFileTest, KeyLines) {
  ExpectRows({
      {"full root name", Form::kAnsi, "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"", "A", "v", true, true,
       1, "1\0"sv},
      {"tolerated key line", Form::kAnsi, " [HKEY_LOCAL_MACHINE\\A\\\\B\\] junk\n\"v\"=\"1\"",
       "A\\B", "v", true, true, 1, "1\0"sv},
      {"parent of a key line exists", Form::kAnsi, "[HKLM\\A\\B]", "A", "v", true, false, 0, ""},
      {"other root", Form::kAnsi, "[HKEY_CURRENT_USER\\A]\n\"v\"=\"1\"", "A", "v", false, false, 0,
       ""},
      {"other root's values go nowhere", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=\"1\"\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"2\"", "A", "v", true, true, 1,
       "1\0"sv},
      {"unclosed key line", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"1\"\n[HKLM\\A\\B\n\"v\"=\"2\"", "A",
       "v", true, true, 1, "1\0"sv},
      {"unclosed key line creates nothing", Form::kAnsi, "[HKLM\\A]\n[HKLM\\A\\B\n\"v\"=\"2\"",
       "A\\B", "v", false, false, 0, ""},
      {"deleting deletes subkeys", Form::kAnsi, "[HKLM\\A\\B]\n\"v\"=\"1\"\n[-HKLM\\A]", "A\\B",
       "v", false, false, 0, ""},
      {"re-added key has only new values", Form::kAnsi,
       "[HKLM\\A\\B]\n\"v\"=\"1\"\n[-HKLM\\A]\n[HKLM\\A\\B]\n\"w\"=\"2\"", "A\\B", "v", true, false,
       0, ""},
      {"deleting a longer sibling", Form::kAnsi, "[HKLM\\A\\B]\n\"v\"=\"1\"\n[-HKLM\\A\\Bx]",
       "A\\B", "v", true, true, 1, "1\0"sv},
      {"deleting a subkey", Form::kAnsi, "[HKLM\\A]\n\"v\"=\"1\"\n[HKLM\\A\\B]\n[-HKLM\\A\\B]", "A",
       "v", true, true, 1, "1\0"sv},
  });
}

// Headers and encodings: only exact headers count; UTF-16 text reads back in code page 1252.
TEST_F(RegFileTest, HeadersAndEncodings) {
  ExpectRows({
      {"no header", Form::kAnsi, "<as is>[HKLM\\A]\r\n\"v\"=\"1\"\r\n", "A", "v", false, false, 0,
       ""},
      {"version 4.00", Form::kAnsi,
       "<as is>Windows Registry Editor Version 4.00\r\n\r\n[HKLM\\A]\r\n\"v\"=\"1\"", "A", "v",
       false, false, 0, ""},
      {"blank after header", Form::kAnsi,
       "<as is>Windows Registry Editor Version 5.00 \r\n[HKLM\\A]\r\n\"v\"=\"1\"", "A", "v", false,
       false, 0, ""},
      {"lower-case regedit4", Form::kAnsi, "<as is>regedit4\r\n[HKLM\\A]\r\n\"v\"=\"1\"", "A", "v",
       false, false, 0, ""},
      {"UTF-8 with BOM", Form::kAnsi,
       "<as is>\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n[HKLM\\A]\r\n\"v\"=\"1\"",
       "A", "v", false, false, 0, ""},
      {"REGEDIT4, 8-bit", Form::kAnsi, "<as is>REGEDIT4\r\n\r\n[HKLM\\A]\r\n\"v\"=\"caf\xE9\"", "A",
       "v", true, true, 1, "caf\xE9\0"sv},
      {"REGEDIT4, UTF-16", Form::kUtf16, "<as is>REGEDIT4\n\n[HKLM\\A]\n\"v\"=\"x\"", "A", "v",
       true, true, 1, "x\0"sv},
      {"UTF-16 Latin-1 text", Form::kUtf16, "[HKLM\\A]\n\"v\"=\"caf\xE9\"", "A", "v", true, true, 1,
       "caf\xE9\0"sv},
      {"UTF-16 cut after a whole line", Form::kUtf16OddByte, "[HKLM\\A]\n\"v\"=\"1\"\n", "A", "v",
       true, true, 1, "1\0"sv},
      {"UTF-16 cut mid-line", Form::kUtf16OddByte, "[HKLM\\A]\n\"v\"=\"1\"\n\"v\"=\"2", "A", "v",
       true, true, 1, "1\0"sv},
      {"UTF-16 hex(1) bytes", Form::kUtf16, "[HKLM\\A]\n\"v\"=hex(1):68,00,69,00,00,00", "A", "v",
       true, true, 1, "hi\0"sv},
      {"UTF-16 U+0081 text", Form::kUtf16, "[HKLM\\A]\n\"v\"=\"a\x81z\"", "A", "v", true, true, 1,
       "a\x81z\0"sv},
      {"UTF-16 beyond 1252: a '?' per unit", Form::kUtf16,
       "[HKLM\\A]\n\"v\"=hex(2):ac,20,3d,d8,00,de,2d,4e,00,00", "A", "v", true, true, 2,
       "\x80???\0"sv},
      {"UTF-16 hex(7), odd byte", Form::kUtf16, "[HKLM\\A]\n\"v\"=hex(7):61,00,00,00,62", "A", "v",
       true, true, 7, "a\0"sv},
      {"UTF-16 binary as is", Form::kUtf16, "[HKLM\\A]\n\"v\"=hex:68,00", "A", "v", true, true, 3,
       "h\0"sv},
      {"8-bit hex(2) as is", Form::kAnsi, "[HKLM\\A]\n\"v\"=hex(2):25,00,54,00", "A", "v", true,
       true, 2, "%\0T\0"sv},
  });
}

// A bad line is skipped and changes nothing; the lines around it still count.
TEST_F(RegFileTest, BadLines) {
  ExpectRows({
      {"good line after bad ones", Form::kAnsi,
       "[HKLM\\A]\n\"a\"=\"1\"\n\"b\"=\"open\ngarbage\n\"c\"=\"3\"", "A", "c", true, true, 1,
       "3\0"sv},
      {"bad line stores nothing", Form::kAnsi, "[HKLM\\A]\n\"b\"=\"open\n\"c\"=\"3\"", "A", "b",
       true, false, 0, ""},
      {"bad dwords", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=dword:1\n\"v\"=dword:123456789\n\"v\"=dword:-1\n\"v\"=DWORD:2", "A", "v",
       true, true, 4, "\x01\0\0\0"sv},
      {"bad data", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=\"keep\"\n\"v\"=hex: 01 , 02\n\"v\"=HEX:01\n\"v\"=hex:012\n\"v\"=\"x\" "
       "junk\n\"v\"=\"a\\\n\"v\"=- junk\n\"v\"=",
       "A", "v", true, true, 1, "keep\0"sv},
      {"comment lines", Form::kAnsi, "[HKLM\\A]\n;\"v\"=\"1\"\n#\"v\"=\"2\"", "A", "v", true, false,
       0, ""},
      {"list cut by a key line", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=hex:01,\\\n[HKLM\\A\\C]\n\"c\"=\"1\"", "A", "v", true, false, 0, ""},
      {"key line after a cut list", Form::kAnsi,
       "[HKLM\\A]\n\"v\"=hex:01,\\\n[HKLM\\A\\C]\n\"c\"=\"1\"", "A", "c", true, false, 0, ""},
  });
}

// Without HKLM.reg the registry is empty.
TEST_F(RegFileTest, MissingFile) {
  EXPECT_EQ(OpenMachineKey("A", RegistryView::kLauncher), nullptr);
}

// A file cut at any byte is read as far as it goes, never past its end (run under ASan).
TEST(RegFileImport, EveryCutOfAFile) {
  std::string body = R"(Windows Registry Editor Version 5.00

[HKLM\A]
@="d"
"e"="x\"y\\"
"d"=dword:0000002a
"h"=hex(7):61,00,\
  00,00 ; c
[HKLM\A\B]
[-HKLM\A\B]
[HKLM\A]
"e"=-
)";
  for (const std::string& file : {body, Utf16(body)}) {
    for (size_t length = 0; length <= file.size(); ++length) {
      std::vector<unsigned char> cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(length));
      RegFileKey* key = ImportRegFileKey(cut.data(), cut.size(), "A");
      ReleaseRegFileKey(key);
    }
  }
}

// A value in a 100,000-key file is found in one pass: a few milliseconds in an optimised build,
// and the bound leaves room for sanitizers and a loaded machine, where a quadratic scan would
// still take minutes.
TEST_F(RegFileTest, LargeFile) {
  std::string file = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < 100000; ++i) {
    file += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product" + std::to_string(i) +
            "]\r\n\"Installed\"=dword:00000001\r\n\"Path\"=\"C:\\\\Program Files\\\\x\"\r\n\r\n";
  }
  WriteFile(Utf16(file));
  auto start = std::chrono::steady_clock::now();
  RegistryKey* key = OpenMachineKey("Software\\Vendor\\Product99999", RegistryView::kLauncher);
  ASSERT_NE(key, nullptr);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(QueryRegistryValue(key, "Installed", &type, nullptr, &size), 1);
  CloseRegistryKey(key);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
