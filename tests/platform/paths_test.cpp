// Linux only: where Windows paths land under the prefix, and the text-file service refusing a
// symbolic link planted as the last component of a path.
#include "platform/posix/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/profile.h"

namespace {

constexpr const char* kPrefixVariable = "HOTFIX_LAUNCHER_PREFIX";

// Sets the prefix for one test and puts back what was there before.
class PathsTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* saved = getenv(kPrefixVariable);
    hadPrefix_ = saved != nullptr;
    if (hadPrefix_) savedPrefix_ = saved;
    prefix_ = std::filesystem::current_path() / "paths_test_prefix";
    std::filesystem::remove_all(prefix_);
    std::filesystem::create_directories(prefix_ / "drive_c");
    setenv(kPrefixVariable, prefix_.c_str(), 1);
  }
  void TearDown() override {
    if (hadPrefix_) {
      setenv(kPrefixVariable, savedPrefix_.c_str(), 1);
    } else {
      unsetenv(kPrefixVariable);
    }
    std::filesystem::remove_all(prefix_);
  }

  std::string Map(const char* path) {
    char mapped[kMappedPathCapacity];
    return MapPlatformPath(path, mapped, sizeof mapped) ? mapped : "<too long>";
  }

  std::filesystem::path prefix_;

 private:
  bool hadPrefix_ = false;
  std::string savedPrefix_;
};

std::string ReadWhole(const std::filesystem::path& path) {
  std::string bytes;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return "<missing>";
  for (int c; (c = std::fgetc(in)) != EOF;) bytes += static_cast<char>(c);
  std::fclose(in);
  return bytes;
}

}  // namespace

// Drive letters name folders under the prefix; backslashes become slashes everywhere.
TEST_F(PathsTest, MapsDrivesUnderThePrefix) {
  const std::string prefix = prefix_.string();
  const struct {
    const char* path;
    std::string mapped;
  } cases[] = {
      {"c:\\tmp.log", prefix + "/drive_c/tmp.log"},
      {"D:\\x\\y", prefix + "/drive_d/x/y"},
      {"D:x\\y", prefix + "/drive_d/x/y"},
      {"C:/Mixed\\Case.TXT", prefix + "/drive_c/Mixed/Case.TXT"},
      {".\\a\\b", "./a/b"},
      {"/abs\\path", "/abs/path"},
      {"1:\\x", "1:/x"},
  };
  for (const auto& item : cases) EXPECT_EQ(Map(item.path), item.mapped) << item.path;

  std::string tooLong(kMappedPathCapacity, 'a');
  EXPECT_EQ(Map(tooLong.c_str()), "<too long>");
  EXPECT_EQ(OpenTextFile(tooLong.c_str(), TextFileMode::kCreateEmpty), nullptr);
}

// With the variable unset or empty, drives lie under the installed prefix.
TEST_F(PathsTest, DefaultPrefix) {
  unsetenv(kPrefixVariable);
  EXPECT_STREQ(PlatformPrefix(), "/var/lib/hotfix-launcher");
  EXPECT_EQ(Map("c:\\x"), "/var/lib/hotfix-launcher/drive_c/x");
  setenv(kPrefixVariable, "", 1);
  EXPECT_STREQ(PlatformPrefix(), "/var/lib/hotfix-launcher");
}

// The services open mapped paths; a drive without its folder is a missing drive.
TEST_F(PathsTest, ServicesOpenMappedPaths) {
  TextFile* file = OpenTextFile("C:\\settings.ini", TextFileMode::kCreateEmpty);
  ASSERT_NE(file, nullptr);
  WriteText(file, "[Sec]\nKey=val\n");
  CloseTextFile(file);
  EXPECT_EQ(ReadWhole(prefix_ / "drive_c" / "settings.ini"), "[Sec]\r\nKey=val\r\n");

  char value[260];
  EXPECT_EQ(ReadProfileString("Sec", "Key", value, sizeof value, "c:\\settings.ini"), 3);
  EXPECT_STREQ(value, "val");

  EXPECT_EQ(OpenTextFile("E:\\x.log", TextFileMode::kAppend), nullptr);
  EXPECT_EQ(OpenTextFile("E:\\x.log", TextFileMode::kWriteAtEnd), nullptr);
  EXPECT_FALSE(std::filesystem::exists(prefix_ / "drive_e"));
}

// A symbolic link as the last component opens in no mode, and nothing reaches its target.
TEST_F(PathsTest, SymbolicLinkIsRefusedInEveryMode) {
  const std::filesystem::path target = prefix_ / "target.txt";
  const std::filesystem::path missingTarget = prefix_ / "missing.txt";
  FILE* out = std::fopen(target.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("keep", out);
  std::fclose(out);
  std::filesystem::create_symlink(target, prefix_ / "drive_c" / "link.log");
  std::filesystem::create_symlink(missingTarget, prefix_ / "drive_c" / "dangling.log");

  for (TextFileMode mode : {TextFileMode::kAppend, TextFileMode::kWriteAtEnd,
                            TextFileMode::kCreateEmpty, TextFileMode::kRead}) {
    SCOPED_TRACE(static_cast<int>(mode));
    EXPECT_EQ(OpenTextFile("C:\\link.log", mode), nullptr);
    EXPECT_EQ(OpenTextFile("C:\\dangling.log", mode), nullptr);
  }
  EXPECT_EQ(ReadWhole(target), "keep");
  EXPECT_FALSE(std::filesystem::exists(missingTarget));
}
