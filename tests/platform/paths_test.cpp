// Linux only: where Windows paths land under the prefix, the launcher's own path, and the
// text-file service refusing a symbolic link planted as the last component of a path.
#include "platform/posix/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/profile.h"
#include "scoped_prefix.h"

namespace {

constexpr const char* kPrefixVariable = ScopedPrefix::kVariable;

// Sets a prefix of its own for one test.
class PathsTest : public testing::Test {
 protected:
  void SetUp() override {
    prefix_ = std::filesystem::current_path() / "paths_test_prefix";
    std::filesystem::remove_all(prefix_);
    std::filesystem::create_directories(prefix_ / "drive_c");
    scoped_ = std::make_unique<ScopedPrefix>(prefix_.string());
  }
  void TearDown() override {
    scoped_.reset();
    std::filesystem::remove_all(prefix_);
  }

  std::string Map(const char* path) {
    char mapped[kMappedPathCapacity];
    return MapPlatformPath(path, mapped, sizeof mapped) ? mapped : "<too long>";
  }

  std::filesystem::path prefix_;

 private:
  std::unique_ptr<ScopedPrefix> scoped_;
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

// Every Windows path lands inside the prefix: on its drive, on drive C without one, under unc/
// for a share; ".." stops at the drive's (or share's) root; 1252 text becomes UTF-8.
TEST_F(PathsTest, MapsWindowsPathsInsideThePrefix) {
  const std::string prefix = prefix_.string();
  const struct {
    const char* path;
    std::string mapped;
  } cases[] = {
      {"c:\\tmp.log", prefix + "/drive_c/tmp.log"},
      {"D:\\x\\y", prefix + "/drive_d/x/y"},
      {"D:x\\y", prefix + "/drive_d/x/y"},
      {"C:/Mixed\\Case.TXT", prefix + "/drive_c/Mixed/Case.TXT"},
      {"C:\\Srv\\\\server\\.\\patchinfo", prefix + "/drive_c/Srv/server/patchinfo"},
      {".\\a\\b", prefix + "/drive_c/a/b"},
      {"\\abs\\path", prefix + "/drive_c/abs/path"},
      {"/abs/path", prefix + "/drive_c/abs/path"},
      {"1:\\x", prefix + "/drive_c/1:/x"},
      {"C:\\..\\..\\outside", prefix + "/drive_c/outside"},
      {"C:\\a\\..\\..\\b\\..", prefix + "/drive_c"},
      {"..\\..\\etc\\passwd", prefix + "/drive_c/etc/passwd"},
      {"\\\\server\\share\\x", prefix + "/unc/server/share/x"},
      {"\\\\server\\share\\..\\..\\x", prefix + "/unc/server/share/x"},
      {"\\\\..\\..\\x", prefix + "/unc/x"},
      {"C:\\Qor\xe9\\\x80\x81", prefix + "/drive_c/Qor\xc3\xa9/\xe2\x82\xac\xc2\x81"},
  };
  for (const auto& item : cases) EXPECT_EQ(Map(item.path), item.mapped) << item.path;

  std::string tooLong(kMappedPathCapacity, 'a');
  EXPECT_EQ(Map(tooLong.c_str()), "<too long>");
  EXPECT_EQ(OpenTextFile(tooLong.c_str(), TextFileMode::kCreateEmpty), nullptr);
}

// The launcher's own host path (as /proc names it, links resolved) becomes a Windows path only
// inside a drive folder of the prefix, whether the prefix is named as the file system names it,
// with a trailing slash or through a link.
TEST_F(PathsTest, HostPathsOfTheLauncher) {
  const std::filesystem::path link = prefix_.string() + "-link";
  std::filesystem::remove(link);
  std::filesystem::create_directory_symlink(prefix_, link);
  const std::string drive = prefix_.string() + "/drive_d";
  const struct {
    std::string hostPath;
    const char* windowsPath;  // nullptr: none
  } cases[] = {
      {drive + "/kb/setup", "D:\\kb\\setup"},
      {drive + "/Qor\xc3\xa9/setup", "D:\\Qor\xe9\\setup"},
      {drive + "/\xe6\x97\xa5/setup", nullptr},  // no 1252 character
      {drive + "/a\\b/setup", nullptr},
      {drive + "/bad\xff/setup", nullptr},  // not UTF-8
      {prefix_.string() + "/kit/setup", nullptr},
      {prefix_.string() + "/drive_/setup", nullptr},
      {"/usr/bin/setup", nullptr},
  };
  for (const std::string& named : {prefix_.string(), prefix_.string() + "/", link.string()}) {
    ScopedPrefix scoped(named);
    for (const auto& item : cases) {
      char path[300];
      int found = WindowsPathOfHostPath(item.hostPath.c_str(), path, sizeof path);
      EXPECT_EQ(found != 0 ? std::string(path) : "<none>",
                item.windowsPath != nullptr ? item.windowsPath : "<none>")
          << named << ": " << item.hostPath;
    }
  }
  std::filesystem::remove(link);
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
