// The text-file service against the real file system: bytes stored by each mode, chunks read back,
// and what must not open, and the time stamp that starts a run-log record. The same tables hold on
// Linux and in the Windows build.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "runlog/runlog.h"

namespace {

using namespace std::string_literals;

// The service is given Windows paths; the C library here opens the same file by its bare name.
constexpr const char* kPath = ".\\files_test.txt";
constexpr const char* kName = "files_test.txt";
constexpr int kCapacity = 240;

void WriteBytes(const std::string& bytes) {
  FILE* out = std::fopen(kName, "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
  std::fclose(out);
}

std::string ReadBytes() {
  std::string bytes;
  FILE* in = std::fopen(kName, "rb");
  if (in == nullptr) return "<missing>";
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) bytes.append(block, got);
  std::fclose(in);
  return bytes;
}

std::string Repeat(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

// What fgets hands out for a text once text mode has translated it: up to and including each
// line feed, and never more than capacity - 1 bytes at a time.
std::vector<std::string> Chunks(const std::string& text) {
  std::vector<std::string> chunks;
  std::string chunk;
  for (char c : text) {
    chunk += c;
    if (c == '\n' || chunk.size() == kCapacity - 1) {
      chunks.push_back(chunk);
      chunk.clear();
    }
  }
  if (!chunk.empty()) chunks.push_back(chunk);
  return chunks;
}

struct WriteCase {
  const char* name;
  std::optional<std::string> existing;  // none: the file does not exist
  TextFileMode mode;
  std::vector<std::string> texts;
  std::string stored;
};

struct ReadCase {
  const char* name;
  std::string file;
  std::string text;  // what text mode makes of the file's bytes
};

}  // namespace

// Each mode over existing content stores exactly these bytes.
TEST(FilesTest, WritesStoreTextModeBytes) {
  const std::vector<WriteCase> cases = {
      {"create: LF becomes CR LF, CR kept",
       "old content"s,
       TextFileMode::kCreateEmpty,
       {"a\nb\r\n", "c\rd\x1A\n"},
       "a\r\nb\r\r\nc\rd\x1A\r\n"},
      {"create over a file with nothing written",
       "old content"s,
       TextFileMode::kCreateEmpty,
       {},
       ""},
      {"create a missing file", {}, TextFileMode::kCreateEmpty, {"x\n"}, "x\r\n"},
      {"append adds no line end first", "x"s, TextFileMode::kAppend, {"a\n"}, "xa\r\n"},
      {"append after byte 26", "x\x1A"s, TextFileMode::kAppend, {"a\n"}, "x\032a\r\n"},
      {"append to a missing file", {}, TextFileMode::kAppend, {"a\n", "b"}, "a\r\nb"},
      {"write at end keeps the content",
       "keep\r\n"s,
       TextFileMode::kWriteAtEnd,
       {"more\n"},
       "keep\r\nmore\r\n"},
      {"write at end keeps it when nothing is written",
       "keep"s,
       TextFileMode::kWriteAtEnd,
       {},
       "keep"},
      {"write at end to a missing file", {}, TextFileMode::kWriteAtEnd, {"a\n"}, "a\r\n"},
      {"line feeds past the buffer",
       {},
       TextFileMode::kCreateEmpty,
       {std::string(70000, '\n')},
       Repeat("\r\n", 70000)},
  };
  for (const WriteCase& item : cases) {
    SCOPED_TRACE(item.name);
    std::remove(kName);
    if (item.existing) WriteBytes(*item.existing);
    TextFile* file = OpenTextFile(kPath, item.mode);
    ASSERT_NE(file, nullptr);
    for (const std::string& text : item.texts) WriteText(file, text.c_str());
    CloseTextFile(file);
    EXPECT_EQ(ReadBytes(), item.stored);
  }
  std::remove(kName);
}

// Reading hands out what fgets hands out on a text-mode stream, chunk by chunk, NULs included.
TEST(FilesTest, ReadsChunksAsTextModeFgets) {
  const std::string x4095(4095, 'x');
  const std::string x65535(65535, 'x');
  const std::vector<ReadCase> cases = {
      {"CR LF", "a\r\nb\r\n", "a\nb\n"},
      {"LF", "a\nb\n", "a\nb\n"},
      {"lone CR", "a\rb\r", "a\rb\r"},
      {"CR CR LF", "a\r\r\nb", "a\r\nb"},
      {"CR at the end", "a\r", "a\r"},
      {"last line without line end", "one\r\nlast", "one\nlast"},
      {"byte 26 ends the file", "ab\032cd\r\nef\r\n", "ab"},
      {"CR before byte 26", "a\r\x1A\r\n", "a\r"},
      {"NUL is an ordinary byte", "ab\0cd\r\nef\r\n"s, "ab\0cd\nef\n"s},
      {"238 chars", std::string(238, 'y') + "\r\nZ\r\n", std::string(238, 'y') + "\nZ\n"},
      {"239 chars", std::string(239, 'y') + "\r\nZ\r\n", std::string(239, 'y') + "\nZ\n"},
      {"240 chars", std::string(240, 'y') + "\r\nZ\r\n", std::string(240, 'y') + "\nZ\n"},
      {"500 chars", std::string(500, 'y') + "\r\nZ\r\n", std::string(500, 'y') + "\nZ\n"},
      {"CR LF across 4096", x4095 + "\r\nE\r\n", x4095 + "\nE\n"},
      {"CR LF across 65536", x65535 + "\r\nE\r\n", x65535 + "\nE\n"},
      {"lone CR at 65535", x65535 + "\rE\r\n", x65535 + "\rE\n"},
      {"lone CR at 65535 ending the file", x65535 + "\r", x65535 + "\r"},
      {"empty file", "", ""},
  };
  for (const ReadCase& item : cases) {
    SCOPED_TRACE(item.name);
    WriteBytes(item.file);
    TextFile* file = OpenTextFile(kPath, TextFileMode::kRead);
    ASSERT_NE(file, nullptr);
    std::vector<std::string> chunks;
    char buffer[kCapacity];
    for (;;) {
      // '#' never occurs in the files: the last NUL before the first '#' ends the chunk.
      std::memset(buffer, '#', sizeof buffer);
      if (!ReadTextLine(file, buffer, kCapacity)) break;
      size_t filled = std::find(buffer, buffer + kCapacity, '#') - buffer;
      ASSERT_GT(filled, 0u);
      ASSERT_EQ(buffer[filled - 1], '\0');
      chunks.emplace_back(buffer, filled - 1);
    }
    EXPECT_EQ(ReadTextLine(file, buffer, kCapacity), 0) << "the end is for good";
    CloseTextFile(file);
    EXPECT_EQ(chunks, Chunks(item.text));
  }
  std::remove(kName);
}

// A missing file and a directory open in no mode (except a missing file for writing).
TEST(FilesTest, MissingFileAndDirectoryDoNotOpen) {
  std::remove(kName);
  EXPECT_EQ(OpenTextFile(kPath, TextFileMode::kRead), nullptr);
  std::filesystem::create_directory("files_test_dir");
  for (TextFileMode mode : {TextFileMode::kAppend, TextFileMode::kWriteAtEnd,
                            TextFileMode::kCreateEmpty, TextFileMode::kRead}) {
    SCOPED_TRACE(static_cast<int>(mode));
    TextFile* file = OpenTextFile(".\\files_test_dir", mode);
    EXPECT_EQ(file, nullptr);
    CloseTextFile(file);
  }
  EXPECT_TRUE(std::filesystem::is_directory("files_test_dir"));
  std::filesystem::remove("files_test_dir");
}

// The time stamp that starts every run-log record keeps its date past 19 January 2038: the real
// clock service turns a 64-bit time into local time (in UTC here) for WriteLogRecord's stamp.
TEST(FilesTest, RecordStampsHoldDatesAfter2038) {
  putenv(const_cast<char*>("TZ=UTC0"));
  tzset();
  struct Case {
    int64_t seconds;
    const char* stamp;
  } cases[] = {
      {2147483647, "1/19/2038 3:14:7 : "},  // the last second a 32-bit time holds
      {2147483648, "1/19/2038 3:14:8 : "},
      {2214216307, "3/1/2040 12:5:7 : "},
  };
  for (const Case& c : cases) {
    LocalTime time;
    ToLocalTime(c.seconds, &time);
    char stamp[80];
    FormatTimeStamp(time, stamp, sizeof stamp);
    EXPECT_STREQ(stamp, c.stamp);
  }
}
