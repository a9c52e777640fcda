// The fault table of docs/faults.md, end to end: each fault is made around a real launcher run
// (the Linux build, and the Windows build under wine where the fault can be made there), which
// must return the documented status and records and keep every earlier byte of its run log.
//
//   fault_test --leg=linux --launcher=PATH --installer=PATH [--wrapper="valgrind ..."]
//   fault_test --leg=wine --launcher=EXE --installer=EXE --reporter=EXE
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/harness.h"
#include "faults/merge_model.h"

// This runner and the launcher are built alike: with AddressSanitizer in the sanitizer preset.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace {

using namespace std::chrono_literals;

HarnessOptions options;
std::unique_ptr<Leg> leg;
// Mounts made here stay in this process's own mount namespace and vanish with it.
bool ownMountNamespace = false;

constexpr char kEarlierRecord[] = "an earlier run's record";
const std::string kInheritFlag = "--inherit=";
constexpr char kWithoutOpenat2[] = "no-openat2";  // the state of a kernel without openat2
// A launcher run that takes longer than this hangs.
constexpr unsigned kWatchdogSeconds = 20;
const std::string kHead = "/norestart /log:\"c:\\tmp.log\" ";
const std::string kInstallerArguments = "installer arguments: [/norestart] [/log:c:\\tmp.log]";
const std::string kCheckKey = "SOFTWARE\\ExampleHotfix";
const std::string kServer =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n\"ProgramPath\"=\"C:\\\\Srv\"\r\n";
const std::string kInstalled =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=dword:00000001\r\n";

std::string Ini(const std::string& runParams, const std::string& expected = "1") {
  return "[MicrosoftPatch]\r\nAppName=kb1.exe\r\nDaziveID=KB1\r\n"
         "MicrosoftRegKey=SOFTWARE\\ExampleHotfix\r\nRegKeyName=Installed\r\nRegKeyValue=" +
         expected + "\r\nRunParams=" + runParams + "\r\n";
}

std::string Record(const std::string& who, const std::string& message) {
  return "{T}" + who + ", {DIR} setup " + message + "\n";
}

std::string Record(const std::string& message) { return Record("KB1", message); }

// The banner of a run whose extra switches are `runParams` and whose command tail is empty.
std::string Banner(const std::string& runParams) {
  return "{T}*********************   QOR: New OS Patch  *****************************,   \n"
         "{T}*******  Installing, KB1 kb1.exe " +
         kHead + runParams + (runParams.empty() ? "" : " ") + "\n" +
         "{T}************************************************************************,   \n";
}

const std::string kKeyMissing = Record("Failed RegOpenKeyEx") + Record(kCheckKey);

std::string ExitRecords(const std::string& runParams, const std::string& exitText) {
  return Record("{DIR}kb1.exe") + Record("\"{DIR}kb1.exe\" " + kHead + runParams + " ") +
         Record(exitText) + "{MSG}";
}

// What the example installer logs by default, once merged: its arguments, then an empty line.
std::string MergedArguments(const std::string& runParams) {
  std::string line = kInstallerArguments;
  size_t start = 0;
  while (start < runParams.size()) {
    size_t end = runParams.find(' ', start);
    if (end == std::string::npos) end = runParams.size();
    line += " [" + runParams.substr(start, end - start) + "]";
    start = end + 1;
  }
  return line + "\n\n";
}

// A small fast generator, so that the big inputs are the same on every run.
class Random {
 public:
  explicit Random(uint64_t start) : state_(start) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::string Bytes(size_t count) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) byte = static_cast<char>(Next() >> 24);
    return bytes;
  }

 private:
  uint64_t state_;
};

std::string Utf16(const std::string& text) {
  std::string encoded = "\xFF\xFE";
  for (char c : text) encoded += std::string{c, '\0'};
  return encoded;
}

// Drive C made read-only for the run: by a read-only bind mount when this process may mount (as
// root, permissions stop nothing), else by permissions; restored when it goes.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const fs::path& folder) : folder_(folder) {
    if (geteuid() == 0) {
      if (!ownMountNamespace) {
        failure_ = "root ignores permissions, and no mount namespace of its own could be had";
      } else if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        failure_ = std::string("bind mount failed: ") + strerror(errno);
      } else {
        mounted_ = true;
        if (mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr)) {
          failure_ = std::string("read-only remount failed: ") + strerror(errno);
        }
      }
      return;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::remove);
    }
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
    changedPermissions_ = true;
    if (access(folder.c_str(), W_OK) == 0) failure_ = "the folder stays writable";
  }
  ~ReadOnlyFolder() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    if (!changedPermissions_) return;
    fs::permissions(folder_, fs::perms::owner_write, fs::perm_options::add);
    for (const auto& entry : fs::directory_iterator(folder_)) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    }
  }
  /// Why the folder could not be made read-only; empty when it is.
  const std::string& Failure() const { return failure_; }

 private:
  fs::path folder_;
  bool mounted_ = false;
  bool changedPermissions_ = false;
  std::string failure_;
};

// A small tmpfs mounted over a folder for the run.
class SmallDisk {
 public:
  SmallDisk(const fs::path& folder, const char* size) : folder_(folder) {
    std::string data = std::string("size=") + size;
    if (!ownMountNamespace) {
      failure_ = "mounting needs root and a mount namespace of its own";
    } else if (mount("tmpfs", folder.c_str(), "tmpfs", 0, data.c_str()) != 0) {
      failure_ = std::string("tmpfs mount failed: ") + strerror(errno);
    } else {
      mounted_ = true;
    }
  }
  ~SmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  const std::string& Failure() const { return failure_; }

 private:
  fs::path folder_;
  bool mounted_ = false;
  std::string failure_;
};

// Fills the file system that holds `path` with one file, up to its last byte.
void FillDisk(const fs::path& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  char block[4096] = {};
  while (write(fd, block, sizeof block) > 0) {
  }
  close(fd);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    leg->Reset();
    root_ = leg->Root();
    WriteFile(RunLog(), std::string(kEarlierRecord) + "\r\n");
    WriteFile(ScratchLog(), "stale installer log\r\n");
    leg->WriteRegistry("");
  }

  fs::path RunLog() const { return root_ / "drive_c/QOR_Updates_InstallOS.log"; }
  fs::path ScratchLog() const { return root_ / "drive_c/tmp.log"; }
  fs::path Folder() const { return leg->LauncherFolder(); }

  // Puts the settings file and the example installer beside the launcher.
  void Prepare(const std::string& ini) {
    WriteFile(Folder() / "Installer.ini", ini);
    fs::copy_file(options.installer, Folder() / "kb1.exe", fs::copy_options::overwrite_existing);
  }
  // The status a run that returns `status` ends with on this leg.
  int Status(int status) const { return leg->IsWine() ? status : status & 0xFF; }
  // The run log must be the earlier record followed by `added` (a template of LogPattern).
  void ExpectRunLog(const std::string& added) const {
    std::string runLog = ReadFile(RunLog());
    std::string expected = std::string(kEarlierRecord) + "\n" + added;
    EXPECT_TRUE(std::regex_match(runLog, LogPattern(expected, leg->LauncherDirectory())))
        << "run log:\n"
        << runLog << "\nexpected:\n"
        << expected;
  }

  // Runs the Linux launcher through this test program, which plays its parent (InheritAndExec):
  // it hands over the process state `inherited` names and kills a launcher that hangs. Returns
  // the exit status, or kNoExitStatus.
  int RunInheriting(const std::string& inherited) const {
    fs::copy_file(options.launcher, Folder() / "setup", fs::copy_options::overwrite_existing);
    std::vector<std::string> argv = {"/proc/self/exe", kInheritFlag + inherited};
    argv.insert(argv.end(), options.wrapper.begin(), options.wrapper.end());
    argv.push_back((Folder() / "setup").string());
    int status = RunProgram(argv, {"HOTFIX_LAUNCHER_PREFIX=" + root_.string()});
    return WIFEXITED(status) ? WEXITSTATUS(status) : kNoExitStatus;
  }

  fs::path root_;
};

// A run log that cannot be opened loses the records silently; the run goes on to its status.
TEST_F(Faults, RunLogInAReadOnlyFolder) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: a read-only drive C is made by a mount";
  Prepare(Ini("/exit:5"));
  const std::string runLog = ReadFile(RunLog());
  const std::string scratchLog = ReadFile(ScratchLog());
  ReadOnlyFolder readOnly(root_ / "drive_c");
  if (!readOnly.Failure().empty())
    GTEST_SKIP() << "cannot make drive C read-only: " << readOnly.Failure();
  EXPECT_EQ(leg->Run({}), 5);
  EXPECT_EQ(ReadFile(RunLog()), runLog);
  EXPECT_EQ(ReadFile(ScratchLog()), scratchLog);
}

TEST_F(Faults, RunLogOnAMissingDrive) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: drive C of a wine prefix holds Windows itself";
  Prepare(Ini("/exit:5"));
  fs::remove_all(root_ / "drive_c");
  EXPECT_EQ(leg->Run({}), 5);
  EXPECT_FALSE(fs::exists(root_ / "drive_c"));
}

TEST_F(Faults, RunLogIsADirectory) {
  Prepare(Ini("/exit:5"));
  fs::remove(RunLog());
  WriteFile(RunLog() / "inside.txt", "kept");
  EXPECT_EQ(leg->Run({}), Status(5));
  EXPECT_TRUE(fs::is_directory(RunLog()));
  EXPECT_EQ(ReadFile(RunLog() / "inside.txt"), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(RunLog()), fs::directory_iterator()), 1);
}

// An installer log that is not there to be read at the merge adds nothing and reports nothing.
TEST_F(Faults, InstallerLogMissingOrADirectory) {
  enum class Left { kDirectory, kNothing, kEmptyFile };  // the installer log after the run
  struct Case {
    const char* what;
    std::string runParams;
    Left left;
  } cases[] = {
      {"a directory", "", Left::kDirectory},
      {"deleted by the installer", "/delete-log", Left::kNothing},
      {"never written by the installer", "/no-log", Left::kEmptyFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Prepare(Ini(c.runParams));
    if (c.left == Left::kDirectory) {
      fs::remove(ScratchLog());
      WriteFile(ScratchLog() / "inside.txt", "kept");
    }
    EXPECT_EQ(leg->Run({}), 0);
    ExpectRunLog(Banner(c.runParams) + kKeyMissing);
    switch (c.left) {
      case Left::kDirectory:
        EXPECT_EQ(ReadFile(ScratchLog() / "inside.txt"), "kept");
        break;
      case Left::kNothing:
        EXPECT_FALSE(fs::exists(ScratchLog()));
        break;
      case Left::kEmptyFile:
        EXPECT_EQ(fs::file_size(ScratchLog()), 0u);
        break;
    }
  }
}

// The layout of the big installer log: random lines of every length around the 239-byte chunk
// limit, line ends CR LF, LF and lone CR, NUL bytes, bytes above 127, a CR LF pair across every
// 4 KiB boundary (where a reader's blocks end), one line of 10 MiB, and a byte 26 shortly before
// the end.
constexpr size_t kHugeLogSize = size_t{200} << 20;
constexpr size_t kLongLineAt = size_t{64} << 20;
constexpr size_t kLongLineSize = size_t{10} << 20;
constexpr size_t kEndByteAt = kHugeLogSize - (size_t{1} << 20) + 12345;
constexpr size_t kBlockSize = size_t{1} << 20;

// Mostly short lines, some around the chunk limit and some longer than two chunks.
size_t LineLength(uint64_t random) {
  uint64_t kind = (random >> 8) % 16;
  if (kind == 0) return 236 + (random >> 16) % 8;
  if (kind == 1) return 400 + (random >> 16) % 200;
  return (random >> 16) % 120;
}

void WriteHugeInstallerLog(const fs::path& path) {
  FILE* out = fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::vector<unsigned char> block(kBlockSize);
  Random random(0x9E3779B97F4A7C15u);
  size_t lineLeft = 0;
  bool lineFeedNext = false;
  for (size_t offset = 0; offset < kHugeLogSize; offset += kBlockSize) {
    for (size_t i = 0; i < kBlockSize; ++i) {
      const size_t at = offset + i;
      const uint64_t r = random.Next();
      unsigned char byte;
      if (at == kEndByteAt) {
        byte = 26;
      } else if (at == kEndByteAt - 1) {
        byte = 'Z';  // no CR right before the byte 26: the rules leave that pair open
      } else if (at >= kLongLineAt && at < kLongLineAt + kLongLineSize) {
        byte = r % 1000 == 0   ? '\r'
               : r % 1000 == 1 ? '\0'
                               : static_cast<unsigned char>('a' + r % 26);
      } else if (lineFeedNext) {
        byte = '\n';
        lineFeedNext = false;
      } else if (at % 4096 == 4095) {
        byte = '\r';
        lineFeedNext = true;
        lineLeft = LineLength(r);
      } else if (lineLeft == 0) {
        uint64_t ending = r % 20;  // 0: a line feed alone, 1: a lone CR, else CR LF
        byte = ending == 0 ? '\n' : '\r';
        lineFeedNext = ending > 1;
        lineLeft = LineLength(r);
      } else {
        --lineLeft;
        byte = r % 4096 == 0  ? '\0'
               : r % 997 == 0 ? static_cast<unsigned char>(0x80 + (r >> 8) % 128)
                              : static_cast<unsigned char>(' ' + (r >> 8) % 95);
      }
      block[i] = byte;
    }
    ASSERT_EQ(fwrite(block.data(), 1, block.size(), out), block.size());
  }
  ASSERT_EQ(fclose(out), 0);
}

// Compares the run log from `offset` on with the model's merge of the installer log; returns
// where they first differ, or an empty text.
std::string CompareWithModel(const fs::path& installerLog, const fs::path& runLog, long offset) {
  FILE* actual = fopen(runLog.c_str(), "rb");
  FILE* input = fopen(installerLog.c_str(), "rb");
  if (actual == nullptr || input == nullptr || fseek(actual, offset, SEEK_SET) != 0) {
    if (actual != nullptr) fclose(actual);
    if (input != nullptr) fclose(input);
    return "cannot open the logs";
  }
  std::vector<char> actualBlock(kBlockSize);
  size_t actualNext = 0;
  size_t actualEnd = 0;
  size_t compared = 0;
  std::string difference;
  MergeModel model([&](const char* bytes, size_t count) {
    while (count > 0 && difference.empty()) {
      if (actualNext == actualEnd) {
        actualNext = 0;
        actualEnd = fread(actualBlock.data(), 1, actualBlock.size(), actual);
        if (actualEnd == 0) {
          difference = "the run log ends after " + std::to_string(compared) + " merged bytes";
          return;
        }
      }
      size_t step = std::min(count, actualEnd - actualNext);
      const char* stored = actualBlock.data() + actualNext;
      auto mismatch = std::mismatch(bytes, bytes + step, stored);
      if (mismatch.first != bytes + step) {
        size_t at = static_cast<size_t>(mismatch.first - bytes);
        difference = "first difference after " + std::to_string(compared + at) + " merged bytes";
        return;
      }
      compared += step;
      actualNext += step;
      bytes += step;
      count -= step;
    }
  });
  std::vector<unsigned char> inputBlock(kBlockSize);
  size_t got;
  while (difference.empty() && (got = fread(inputBlock.data(), 1, inputBlock.size(), input)) > 0) {
    model.Feed(inputBlock.data(), got);
  }
  model.Finish();
  if (difference.empty() && (actualNext < actualEnd || fgetc(actual) != EOF)) {
    difference = "the run log goes on after the " + std::to_string(compared) + " merged bytes";
  }
  fclose(actual);
  fclose(input);
  return difference;
}

// The model holds to the merge's documented examples, so that a difference in the big run
// below is the launcher's.
TEST(MergeModel, FollowsTheDocumentedExamples) {
  const std::string line500(500, 'y');
  EXPECT_EQ(MergeOf("a\r\nb\r\n"), "a\r\n\r\nb\r\n\r\n");
  EXPECT_EQ(MergeOf("a\r\nlast"), "a\r\n\r\nlast\r\n");
  EXPECT_EQ(MergeOf(std::string(239, 'x') + "\r\nz\r\n"),
            std::string(239, 'x') + "\r\n\r\n\r\nz\r\n\r\n");
  EXPECT_EQ(MergeOf(line500 + "\r\n"), std::string(239, 'y') + "\r\n" + std::string(239, 'y') +
                                           "\r\n" + std::string(22, 'y') + "\r\n\r\n");
  EXPECT_EQ(MergeOf("a\r\n\x1a"
                    "b\r\n"),
            "a\r\n\r\n");
  EXPECT_EQ(MergeOf(std::string("a\rb\r\nab\0cd\r\nef\r\n", 16)), "a\rb\r\n\r\nab\r\nef\r\n\r\n");
  EXPECT_EQ(MergeOf("\x1a"), "");
}

// 200 MiB of installer log is merged exactly by the rules, in reasonable time.
TEST_F(Faults, HugeInstallerLogIsMergedByTheRules) {
  Prepare(Ini(""));
  WriteHugeInstallerLog(Folder() / "installer-log.bin");
  if (HasFatalFailure()) return;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(leg->Run({}), 0);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 60.0);
  RecordProperty("launcher_seconds", std::to_string(seconds));
  fs::remove(Folder() / "installer-log.bin");
  ASSERT_EQ(fs::file_size(ScratchLog()), kHugeLogSize) << "the installer did not write it whole";

  // The records come first: the earlier one, the banner and the failed check, one line each.
  std::string head(4096, '\0');
  FILE* runLog = fopen(RunLog().c_str(), "rb");
  ASSERT_NE(runLog, nullptr);
  head.resize(fread(head.data(), 1, head.size(), runLog));
  fclose(runLog);
  size_t end = 0;
  for (int line = 0; line < 6 && end != std::string::npos; ++line) {
    end = head.find("\r\n", end);
    if (end != std::string::npos) end += 2;
  }
  ASSERT_NE(end, std::string::npos);
  head.resize(end);
  std::string expected = std::string(kEarlierRecord) + "\n" + Banner("") + kKeyMissing;
  EXPECT_TRUE(std::regex_match(head, LogPattern(expected, leg->LauncherDirectory()))) << head;
  EXPECT_EQ(CompareWithModel(ScratchLog(), RunLog(), static_cast<long>(end)), "");
  fs::remove(ScratchLog());
  fs::remove(RunLog());
}

// Replaces every complete time stamp with {T} and the launcher directory with {DIR}.
std::string AsTemplate(const std::string& text, const std::string& directory) {
  static const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2} : )");
  std::string result = std::regex_replace(text, stamp, "{T}");
  for (size_t at; (at = result.find(directory)) != std::string::npos;) {
    result.replace(at, directory.size(), "{DIR}");
  }
  return result;
}

// On a full disk the records that do not fit are lost, and no earlier byte of the run log is.
TEST_F(Faults, FullDiskKeepsEveryEarlierByte) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: the full disk is a small tmpfs";
  Prepare(Ini(""));
  std::string installerLog;
  for (int line = 0; installerLog.size() < 100 * 1024; ++line) {
    installerLog += "installer log line " + std::to_string(line) + "\r\n";
  }
  WriteFile(Folder() / "installer-log.bin", installerLog);
  SmallDisk disk(root_ / "drive_c", "1m");
  if (!disk.Failure().empty()) GTEST_SKIP() << "no small disk: " << disk.Failure();
  std::string earlier;
  while (earlier.size() < 5000) earlier += std::string(kEarlierRecord) + "\r\n";
  WriteFile(RunLog(), earlier);
  WriteFile(ScratchLog(), std::string(40 * 1024, 's'));
  FillDisk(root_ / "drive_c/filler");

  EXPECT_EQ(leg->Run({}), 0);

  std::string runLog = ReadFile(RunLog());
  ASSERT_GE(runLog.size(), earlier.size());
  EXPECT_EQ(runLog.substr(0, earlier.size()), earlier);
  // What was added is the start of what a roomy disk would have taken, cut where the disk ended.
  std::string added = AsTemplate(runLog.substr(earlier.size()), leg->LauncherDirectory());
  std::string whole;
  for (char c : Banner("") + kKeyMissing) {
    if (c == '\n') whole += '\r';
    whole += c;
  }
  whole += MergeOf(ReadFile(ScratchLog()));
  size_t lastLine = added.rfind("\r\n");
  ASSERT_NE(lastLine, std::string::npos) << "not even the banner was written";
  EXPECT_EQ(whole.compare(0, lastLine + 2, added, 0, lastLine + 2), 0) << added;
  EXPECT_LT(added.size(), whole.size()) << "the disk was not full";
}

// Any Installer.ini ends in the settings gate's record, or in a run.
TEST_F(Faults, SettingsFileFaults) {
  Random random(7);
  std::string junkLines = "junk\r\n";  // not a UTF-16 file
  while (junkLines.size() < (size_t{10} << 20)) {
    junkLines += random.Bytes(random.Next() % 300) + "\r\n";
  }
  std::string randomBytes = random.Bytes(size_t{10} << 20);
  randomBytes[0] = 'x';  // not a UTF-16 file
  const std::string gate = Record("N/A ", "AppName is missing from ini file.");
  struct Case {
    const char* what;
    std::string ini;
    bool directory;
    int status;
    std::string added;
  } cases[] = {
      {"10 MiB of random bytes with NULs", randomBytes, false, -1, gate},
      {"UTF-16 of random bytes", "\xFF\xFE" + randomBytes.substr(0, 1 << 20), false, -1, gate},
      {"a directory", "", true, -1, gate},
      {"10 MiB of junk lines before the section", junkLines + Ini(""), false, 0,
       Banner("") + kKeyMissing + MergedArguments("")},
      {"a value of 10 MiB", Ini("", std::string(size_t{10} << 20, '1')), false, -1,
       Record("RegKeyValue is too long in ini file.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Prepare(c.ini);
    if (c.directory) {
      fs::remove(Folder() / "Installer.ini");
      fs::create_directory(Folder() / "Installer.ini");
    }
    EXPECT_EQ(leg->Run({}), Status(c.status));
    ExpectRunLog(c.added);
  }
}

// HKLM.reg, which stands for the registry on Linux: big, malformed or cut files give the values
// that the import rules say.
TEST_F(Faults, RegistryFileFaults) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: HKLM.reg is the Linux port's registry";
  std::string manyKeys;
  std::string manyValues = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n";
  for (int i = 0; i < 100000; ++i) {
    std::string number = std::to_string(i);
    manyKeys += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\Key" + number + "]\r\n\"Value\"=\"" +
                number + "\"\r\n";
    manyValues += "\"Value" + number + "\"=dword:" + std::to_string(i % 10) + "\r\n";
  }
  // Each bad line tries to take the value back; none of them may.
  const std::string malformed =
      kInstalled +
      "\"Installed\"=dword:123456789\r\n"
      "\"Installed\"=dword:\r\n"
      "\"Installed\"=hex:zz\r\n"
      "\"Installed\"=hex(zz):00\r\n"
      "\"Installed\"=\"unterminated\r\n"
      "\"Installed\"=dword:00000000 junk\r\n"
      "\"Installed\"\r\n"
      "Installed=dword:00000000\r\n" +
      std::string("\"Installed\"=\0\xFF\x1a\r\n", 17) +
      // Values after a key line without its ']' (they go to the key before it, or nowhere) and
      // after a key of another root never reach the check key.
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix\r\n\"Installed\"=dword:00000000\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=dword:00000000\r\n";
  const std::string textValue =
      "REGEDIT4\r\n\r\n" + kServer +
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=\"1\"\r\n";
  std::string cutInLastCharacter = Utf16(textValue);
  cutInLastCharacter.pop_back();
  std::string cutInValue = Utf16(textValue.substr(0, textValue.size() - 3));  // ..."1
  cutInValue += '"';  // half of the closing quote
  const std::string notFound = Record("Failed RegQueryValueEx Installed") + Record(kCheckKey) +
                               Record("Installed") + MergedArguments("");
  struct Case {
    const char* what;
    std::string file;  // the whole HKLM.reg
    bool directory;
    std::string added;
    bool patchRecorded;
  } cases[] = {
      {"100,000 keys before the check key", "REGEDIT4\r\n\r\n" + manyKeys + kServer + kInstalled,
       false, Banner(""), true},
      {"100,000 values before the check value",
       "REGEDIT4\r\n\r\n" + kServer + manyValues + "\"Installed\"=dword:00000001\r\n", false,
       Banner(""), true},
      {"malformed lines", "REGEDIT4\r\n\r\n" + kServer + malformed, false, Banner(""), true},
      {"UTF-16 cut in its last character", cutInLastCharacter, false, Banner(""), true},
      {"UTF-16 cut inside the check value", cutInValue, false, Banner("") + notFound, false},
      {"random bytes", Random(11).Bytes(1 << 20), false,
       Banner("") + kKeyMissing + MergedArguments(""), false},
      {"a directory", "", true, Banner("") + kKeyMissing + MergedArguments(""), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Prepare(Ini(""));
    fs::create_directories(root_ / "drive_c/Srv/server");
    if (c.directory) {
      fs::remove(root_ / "HKLM.reg");
      fs::create_directory(root_ / "HKLM.reg");
    } else {
      WriteFile(root_ / "HKLM.reg", c.file);
    }
    EXPECT_EQ(leg->Run({}), 0);
    ExpectRunLog(c.added);
    EXPECT_EQ(ReadFile(root_ / "drive_c/Srv/server/patchinfo"), c.patchRecorded ? "KB1\r\n" : "");
    fs::remove_all(root_ / "HKLM.reg");
  }
}

// A command tail of 32 KiB is refused before the banner, after the installer log was emptied.
TEST_F(Faults, LongCommandTail) {
  // Windows takes command lines of at most 32767 characters, the program's own path included.
  const size_t size = leg->IsWine() ? 32 * 1024 - 100 : 32 * 1024;
  std::vector<std::string> manyArguments(size / 8, "/x:abcd");
  struct Case {
    const char* what;
    std::vector<std::string> tail;
  } cases[] = {
      {"one argument", {std::string(size, 'a')}},
      {"many arguments", manyArguments},
      {"quotes, each escaped by a backslash", {std::string(size / 2 - 8, '"')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Prepare(Ini(""));
    LaunchRequest request;
    request.tail = c.tail;
    EXPECT_EQ(leg->Run(request), Status(-1));
    ExpectRunLog(Record("Installer arguments are too long."));
    EXPECT_EQ(ReadFile(ScratchLog()), "");
  }
}

// The launcher returns when the installer ends, not when the children it left running end.
TEST_F(Faults, InstallerLeavesAChildRunning) {
  Prepare(Ini("/spawn:5000"));
  const fs::path done = Folder() / "spawned.done";
  EXPECT_EQ(leg->Run({}), 0);
  EXPECT_FALSE(fs::exists(done)) << "the launcher waited for the installer's child";
  ExpectRunLog(Banner("/spawn:5000") + kKeyMissing + MergedArguments("/spawn:5000"));
  auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!fs::exists(done) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(fs::exists(done)) << "the installer's child never ended";
}

TEST_F(Faults, InstallerClosesItsStreams) {
  const std::string runParams = "/close-streams /exit:5";
  Prepare(Ini(runParams));
  EXPECT_EQ(leg->Run({}), Status(5));
  ExpectRunLog(Banner(runParams) + ExitRecords(runParams, "Exit code = 5") + kKeyMissing +
               MergedArguments(runParams));
}

// An installer ended by signal N ends with 128 + N, as a shell reports it.
TEST_F(Faults, InstallerKilledBySignal) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: Windows has no signals that end a process";
  for (int signal : {SIGKILL, SIGUSR1, SIGTERM}) {
    SCOPED_TRACE(signal);
    SetUp();
    const std::string runParams = "/kill-self:" + std::to_string(signal);
    Prepare(Ini(runParams));
    EXPECT_EQ(leg->Run({}), 128 + signal);
    ExpectRunLog(Banner(runParams) +
                 ExitRecords(runParams, "Exit code = " + std::to_string(128 + signal)) +
                 kKeyMissing + MergedArguments(runParams));
  }
}

TEST_F(Faults, LauncherStartedWithItsStreamsClosed) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: a Windows GUI program has no standard streams";
  if (!options.wrapper.empty())
    GTEST_SKIP() << "valgrind keeps descriptor 2 for its own log when it starts without it";
  Prepare(Ini("/exit:5"));
  LaunchRequest request;
  request.closedStreams = true;
  EXPECT_EQ(leg->Run(request), 5);
  ExpectRunLog(Banner("/exit:5") + ExitRecords("/exit:5", "Exit code = 5") + kKeyMissing +
               MergedArguments("/exit:5"));
}

// A launcher whose own folder cannot be known runs nothing: not the Installer.ini and installer
// of an ancestor folder (a path over 259 characters, cut), nor those of the current folder, nor
// any outside the drives. In a drive folder its one record names no folder. Outside the drive
// folders (the build tree's launcher included), or when its path cannot be read at all, it has no
// bundle: one line on standard error names the prefix, and nothing is touched, the installer log
// included. (On Windows the module-path service's own test covers a path that does not fit.)
TEST_F(Faults, LauncherFolderUnknown) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: Windows starts no program over 259 characters";
  enum class Start { kPlain, kDeleted, kWithoutProc };
  const struct Case {
    const char* what;
    std::string folder;  // below the root; empty: the launcher where it was built
    Start start;
    bool outside;  // in no drive folder that the launcher can know
  } cases[] = {
      {"a path over 259 characters",
       "drive_c/hotfix/" + std::string(5, 'd') + "/" + std::string(200, 'd') + "/" +
           std::string(40, 'd'),
       Start::kPlain, false},
      {"outside the drives", "kit/kb1", Start::kPlain, true},
      {"the build tree's launcher", "", Start::kPlain, true},
      {"a backslash in a folder name", "drive_c/hotfix/a\\b", Start::kPlain, false},
      {"a name that code page 1252 lacks", "drive_c/hotfix/\u65e5\u672c", Start::kPlain, false},
      {"deleted as it starts", "drive_c/hotfix/gone", Start::kDeleted, false},
      {"no /proc", "drive_c/hotfix/kb2", Start::kWithoutProc, true},
  };
  const fs::path errors = root_.string() + "-stderr";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Making /proc unreadable needs root, and a sanitized launcher cannot end without /proc.
    if (c.start == Start::kWithoutProc && (geteuid() != 0 || kSanitized)) continue;
    SetUp();
    const fs::path folder = root_ / c.folder;
    fs::path launcher = options.launcher;
    if (!c.folder.empty()) {
      fs::create_directories(folder);
      WriteFile(folder / "Installer.ini", Ini(""));
      fs::copy_file(options.installer, folder / "kb1.exe", fs::copy_options::overwrite_existing);
      launcher = folder / "setup";
      fs::copy_file(options.launcher, launcher, fs::copy_options::overwrite_existing);
    }
    const std::string prefix = "HOTFIX_LAUNCHER_PREFIX=" + root_.string();
    pid_t pid = fork();
    if (pid == 0) {
      putenv(const_cast<char*>(prefix.c_str()));
      int errorFile = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (errorFile < 0 || dup2(errorFile, STDERR_FILENO) < 0) _exit(125);
      char* argv[] = {const_cast<char*>(launcher.c_str()), nullptr};
      if (c.start == Start::kWithoutProc) {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
          _exit(126);
      }
      if (c.start == Start::kDeleted) {
        int fd = open(launcher.c_str(), O_RDONLY | O_CLOEXEC);
        unlink(launcher.c_str());
        fexecve(fd, argv, environ);
      }
      execv(argv[0], argv);
      _exit(127);
    }
    int wait = 0;
    waitpid(pid, &wait, 0);
    int status = WIFEXITED(wait) ? WEXITSTATUS(wait) : kNoExitStatus;
    EXPECT_EQ(status, Status(-1));
    const std::string said = ReadFile(errors);
    std::string expected = std::string(kEarlierRecord) + "\n";
    if (c.outside) {
      EXPECT_EQ(ReadFile(ScratchLog()), "stale installer log\r\n");
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
      EXPECT_NE(said.find(" the prefix " + root_.string() + " (HOTFIX_LAUNCHER_PREFIX)"),
                std::string::npos)
          << said;
    } else {
      expected += "{T}N/A ,   AppName is missing from ini file.\n";
      EXPECT_EQ(said, "");
    }
    const std::string runLog = ReadFile(RunLog());
    EXPECT_TRUE(std::regex_match(runLog, LogPattern(expected, ""))) << runLog;
    if (!c.folder.empty()) fs::remove_all(root_ / c.folder.substr(0, c.folder.find('/', 8)));
  }
  fs::remove(errors);
}

// Symbolic links and second hard links planted at the run log's and the installer log's paths in
// drive C's root are never used: nothing they lead to is emptied, appended to, read or created.
TEST_F(Faults, PlantedLinksAreNotFollowed) {
  const std::string runParams = "/no-log /exit:5";
  struct Case {
    const char* what;
    bool runLogLinked;  // else only the installer log is a link, and the run log a plain file
    bool victimsExist;
    bool installed;
    int status;
    bool hard;  // a second name of the victim rather than a symbolic link (Wine too)
  } cases[] = {
      {"links to files", true, true, false, 5, false},
      {"dangling links", true, false, false, 5, false},
      {"links to files, check passes", true, true, true, 0, false},
      {"installer log linked, run log a file", false, true, false, 5, false},
      {"hard links to files", true, true, false, 5, true},
      {"hard links to files, check passes", true, true, true, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (leg->IsWine() && !c.hard) continue;  // wine sees Linux symbolic links as plain files
    SetUp();
    Prepare(Ini(runParams));
    if (c.installed) leg->WriteRegistry(kServer + kInstalled);
    fs::create_directories(root_ / "drive_c/Srv/server");
    const fs::path victims = root_ / "victims";
    fs::remove_all(victims);
    fs::create_directories(victims);
    const fs::path runVictim = victims / "run.log";
    const fs::path scratchVictim = victims / "scratch.log";
    if (c.victimsExist) {
      WriteFile(runVictim, "victim of the run log\r\n");
      WriteFile(scratchVictim, "victim of the installer log\r\n");
    }
    auto plant = [&](const fs::path& victim, const fs::path& at) {
      fs::remove(at);
      c.hard ? fs::create_hard_link(victim, at) : fs::create_symlink(victim, at);
    };
    if (c.runLogLinked) plant(runVictim, RunLog());
    plant(scratchVictim, ScratchLog());
    auto runTime = c.victimsExist ? fs::last_write_time(runVictim) : fs::file_time_type();
    auto scratchTime = c.victimsExist ? fs::last_write_time(scratchVictim) : fs::file_time_type();

    EXPECT_EQ(leg->Run({}), c.status);

    auto stillLinked = [&](const fs::path& at, const fs::path& victim) {
      return c.hard ? fs::equivalent(at, victim) : fs::read_symlink(at) == victim;
    };
    if (c.runLogLinked) {
      EXPECT_TRUE(stillLinked(RunLog(), runVictim));
    } else {
      // The merge found nothing it could read: the victim's text is not in the run log.
      ExpectRunLog(Banner(runParams) + ExitRecords(runParams, "Exit code = 5") + kKeyMissing);
    }
    EXPECT_TRUE(stillLinked(ScratchLog(), scratchVictim));
    if (c.victimsExist) {
      EXPECT_EQ(ReadFile(runVictim), "victim of the run log\r\n");
      EXPECT_EQ(ReadFile(scratchVictim), "victim of the installer log\r\n");
      EXPECT_EQ(fs::last_write_time(runVictim), runTime);
      EXPECT_EQ(fs::last_write_time(scratchVictim), scratchTime);
    } else {
      EXPECT_FALSE(fs::exists(runVictim));
      EXPECT_FALSE(fs::exists(scratchVictim));
    }
    EXPECT_EQ(ReadFile(root_ / "drive_c/Srv/server/patchinfo"), c.installed ? "KB1\r\n" : "");
    fs::remove_all(victims);
  }
}

// Whatever the registry names and whatever links lie on the way, the patch-info file is found
// inside the prefix, as the Windows path would find it on Windows: ".." stops at a drive's or a
// share's root, a path without a drive is on drive C, code page 1252 text names a UTF-8 folder,
// and links (absolute or climbing) are resolved as if the prefix were the root. The patch-info
// file itself may be a link, as Windows follows one, and so may the installer. Each row runs with
// the kernel resolving the paths (openat2) and with the launcher's own walk, which it takes where
// openat2 answers ENOSYS.
TEST_F(Faults, PathsStayInsideThePrefix) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: the prefix is the Linux port's";
  const struct Case {
    const char* what;
    std::string programPath;  // as it stands in a REGEDIT4 file
    const char* folder;       // below the root, made with the server folder in it
    const char* link;         // when set, made below the root, leading to `target`
    const char* target;
    const char* patchInfo;  // where the line lands, below the root
  } cases[] = {
      {"'..' above the drive's root", R"(C:\\..\\..\\..\\..\\Esc)", "drive_c/Esc", nullptr, nullptr,
       "drive_c/Esc/server/patchinfo"},
      {"no drive", R"(\\NoDrive)", "drive_c/NoDrive", nullptr, nullptr,
       "drive_c/NoDrive/server/patchinfo"},
      {"a share", R"(\\\\host\\share\\..\\..\\S)", "unc/host/share/S", nullptr, nullptr,
       "unc/host/share/S/server/patchinfo"},
      {"code page 1252", "C:\\\\Qor\xe9", "drive_c/Qor\xc3\xa9", nullptr, nullptr,
       "drive_c/Qor\xc3\xa9/server/patchinfo"},
      {"an absolute link", R"(C:\\Abs)", "real", "drive_c/Abs", "/real", "real/server/patchinfo"},
      {"a link that climbs", R"(C:\\Up)", "up", "drive_c/Up", "../../../../../../../../up",
       "up/server/patchinfo"},
      {"the patch-info file a link", R"(C:\\Srv)", "drive_c/Srv", "drive_c/Srv/server/patchinfo",
       "/store/kept", "store/kept"},
  };
  for (const char* resolution : {"", kWithoutOpenat2}) {
    SCOPED_TRACE(resolution[0] == '\0' ? "openat2" : "walked");
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      SetUp();
      Prepare(Ini(""));
      leg->WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n\"ProgramPath\"=\"" +
                         c.programPath + "\"\r\n" + kInstalled);
      fs::create_directories(root_ / c.folder / "server");
      fs::create_directories(root_ / "store");
      if (c.link != nullptr) fs::create_symlink(c.target, root_ / c.link);
      EXPECT_EQ(RunInheriting(resolution), 0);
      EXPECT_EQ(ReadFile(root_ / c.patchInfo), "KB1\r\n");
      for (const char* made : {"unc", "real", "up", "store", "drive_c/Esc", "drive_c/NoDrive",
                               "drive_c/Qor\xc3\xa9", "drive_c/Abs", "drive_c/Up"}) {
        fs::remove_all(root_ / made);
      }
    }
    // The installer too: a link beside the launcher that names "/inside/kb1.exe" leads to the
    // installer in the prefix's folder "inside", not to the host's.
    SetUp();
    Prepare(Ini("/exit:5"));
    fs::create_directories(root_ / "inside");
    fs::rename(Folder() / "kb1.exe", root_ / "inside/kb1.exe");
    fs::create_symlink("/inside/kb1.exe", Folder() / "kb1.exe");
    EXPECT_EQ(RunInheriting(resolution), 5);
    fs::remove_all(root_ / "inside");
  }
}

// Runs `argv` traced and holds the installer's start: when a child of the launcher is about to
// execute a program, `whileHeld` runs, and then every process goes on untraced. Returns the wait
// status of the launcher.
int RunHoldingTheStart(const std::vector<std::string>& argv, const std::string& setting,
                       const std::function<void()>& whileHeld) {
  pid_t launcher = fork();
  if (launcher == 0) {
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(launcher, &status, 0);
  ptrace(PTRACE_SETOPTIONS, launcher, nullptr,
         PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_EXITKILL);
  ptrace(PTRACE_SYSCALL, launcher, nullptr, nullptr);
  bool held = false;
  for (pid_t pid; (pid = waitpid(-1, &status, __WALL)) > 0;) {
    if (pid == launcher && !WIFSTOPPED(status)) return status;
    if (!WIFSTOPPED(status)) continue;
    int signal = WSTOPSIG(status);
    if (signal == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info info = {};
      ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info);
      bool starts = info.op == PTRACE_SYSCALL_INFO_ENTRY &&
                    (info.entry.nr == SYS_execve || info.entry.nr == SYS_execveat);
      if (!held && pid != launcher && starts) {
        held = true;
        whileHeld();
      }
    }
    // Stops of the tracing itself (a syscall, an event, the exec's SIGTRAP, a new child's SIGSTOP)
    // pass no signal on; any other signal is the process's own.
    if (signal == (SIGTRAP | 0x80) || signal == SIGTRAP || signal == SIGSTOP) signal = 0;
    ptrace(held ? PTRACE_DETACH : PTRACE_SYSCALL, pid, nullptr, signal);
  }
  return -1;
}

// A folder on the installer's path swapped for a link to a folder outside the prefix while the
// start is held (the launcher has opened the installer and not yet executed it) changes nothing:
// the file the launcher opened starts, not the program the link now leads to.
TEST_F(Faults, FolderSwappedAtTheStartLeadsNowhereElse) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: the start from the opened file";
  if (!options.wrapper.empty())
    GTEST_SKIP() << "valgrind carries out execveat as an execve of the path /proc/self/fd names";
  Prepare(Ini("/exit:5"));
  fs::copy_file(options.launcher, Folder() / "setup", fs::copy_options::overwrite_existing);
  const fs::path outside = root_.string() + "-outside";
  WriteFile(outside / "kb1.exe", "#!/bin/sh\ntouch '" + (outside / "ran").string() + "'\nexit 7\n");
  fs::permissions(outside / "kb1.exe", fs::perms::owner_all);
  const fs::path moved = Folder().string() + "-moved";
  int status = RunHoldingTheStart({(Folder() / "setup").string()},
                                  "HOTFIX_LAUNCHER_PREFIX=" + root_.string(), [&] {
                                    fs::rename(Folder(), moved);
                                    fs::create_directory_symlink(outside, Folder());
                                  });
  EXPECT_TRUE(fs::is_symlink(Folder())) << "the start was never held";
  fs::remove(Folder());
  fs::rename(moved, Folder());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << status;
  EXPECT_FALSE(fs::exists(outside / "ran")) << "the program outside the prefix ran";
  fs::remove_all(outside);
}

// Ends a wine run that hangs: after kWatchdogSeconds it ends every process of the wine prefix.
class WineWatchdog {
 public:
  explicit WineWatchdog(const fs::path& prefix)
      : thread_([this, prefix] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!ended_.wait_for(lock, std::chrono::seconds(kWatchdogSeconds),
                               [this] { return done_; }))
            RunProgram({"wineserver", "-k"}, {"WINEPREFIX=" + prefix.string()});
        }) {}
  ~WineWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    ended_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;
};

// A FIFO or a device at a path the launcher opens is a file that cannot be opened: the run
// neither blocks on it nor reads it without end, and leaves it as it was. Wine opens a FIFO as a
// pipe and /dev/zero as a character device, so the Windows build meets them too.
TEST_F(Faults, SpecialFilesCannotBeOpened) {
  const std::string noLog = "/no-log /exit:5";
  const std::string unmerged = Banner(noLog) + ExitRecords(noLog, "Exit code = 5") + kKeyMissing;
  struct Case {
    const char* what;
    fs::path node;
    mode_t type;
    bool wine;
    std::string runParams;
    bool installed;
    int status;
    std::string added;  // when the run log is a file
  } cases[] = {
      {"installer log a FIFO", ScratchLog(), S_IFIFO, true, noLog, false, 5, unmerged},
      {"installer log a device without end", ScratchLog(), S_IFCHR, true, noLog, false, 5,
       unmerged},
      {"run log a FIFO", RunLog(), S_IFIFO, true, "/exit:5", false, 5, ""},
      {"settings file a FIFO", Folder() / "Installer.ini", S_IFIFO, false, "", false, -1,
       Record("N/A ", "AppName is missing from ini file.")},
      {"registry file a FIFO", root_ / "HKLM.reg", S_IFIFO, false, "", false, 0,
       Banner("") + kKeyMissing + MergedArguments("")},
      {"patch-info file a FIFO", root_ / "drive_c/Srv/server/patchinfo", S_IFIFO, true, "", true, 0,
       Banner("") + Record("Failed to open PatchInfo file") + Record("C:\\Srv\\server\\patchinfo")},
  };
  for (const Case& c : cases) {
    if (leg->IsWine() && !c.wine) continue;
    SCOPED_TRACE(c.what);
    SetUp();
    Prepare(Ini(c.runParams));
    if (c.installed) leg->WriteRegistry(kServer + kInstalled);
    fs::create_directories(root_ / "drive_c/Srv/server");
    fs::remove(c.node);
    // The device reads as /dev/zero does: zero bytes without end.
    if (mknod(c.node.c_str(), c.type | 0644, c.type == S_IFCHR ? makedev(1, 5) : 0) != 0) {
      GTEST_SKIP() << "cannot make " << c.node << ": " << strerror(errno);
    }
    if (leg->IsWine()) {
      WineWatchdog watchdog(root_);
      EXPECT_EQ(leg->Run({}), c.status);
    } else {
      EXPECT_EQ(RunInheriting(""), Status(c.status));
    }
    if (fs::is_regular_file(RunLog())) ExpectRunLog(c.added);
    struct stat status;
    ASSERT_EQ(lstat(c.node.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & S_IFMT, c.type);
    fs::remove(c.node);
  }
}

// What the launcher's parent hands down changes nothing: an ignored SIGCHLD, or ignored and blocked
// signals, which the installer must not inherit either (nor the launcher's own ignored SIGXFSZ).
TEST_F(Faults, InheritedSignalsChangeNothing) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: signals";
  struct Case {
    const char* inherited;
    std::string runParams;
    int exitCode;
  } cases[] = {
      {"chld-ignored", "/exit:5", 5},
      {"usr1-ignored,term-blocked", "/kill-self:10", 128 + SIGUSR1},
      {"usr1-ignored,term-blocked", "/kill-self:15", 128 + SIGTERM},
      {"", "/kill-self:25", 128 + SIGXFSZ},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.inherited) + " " + c.runParams);
    SetUp();
    Prepare(Ini(c.runParams));
    EXPECT_EQ(RunInheriting(c.inherited), c.exitCode);
    ExpectRunLog(Banner(c.runParams) +
                 ExitRecords(c.runParams, "Exit code = " + std::to_string(c.exitCode)) +
                 kKeyMissing + MergedArguments(c.runParams));
  }
}

// A file size limit below the run log's size drops the records, as a full disk does, and ends
// nothing; a umask without owner rights still leaves the files the launcher makes readable and
// writable by their owner.
TEST_F(Faults, InheritedLimitsChangeNothing) {
  if (leg->IsWine()) GTEST_SKIP() << "Linux only: resource limits and the umask";
  std::string earlier;
  while (earlier.size() < 2048) earlier += std::string(kEarlierRecord) + "\r\n";
  WriteFile(RunLog(), earlier);
  Prepare(Ini("/exit:5"));
  EXPECT_EQ(RunInheriting("fsize=1024"), 5);
  EXPECT_EQ(ReadFile(RunLog()), earlier);

  SetUp();
  Prepare(Ini("/no-log"));
  leg->WriteRegistry(kServer + kInstalled);
  fs::create_directories(root_ / "drive_c/Srv/server");
  fs::remove(RunLog());
  fs::remove(ScratchLog());
  EXPECT_EQ(RunInheriting("umask=0777"), 0);
  for (const fs::path& made : {RunLog(), ScratchLog(), root_ / "drive_c/Srv/server/patchinfo"}) {
    SCOPED_TRACE(made);
    struct stat status;
    ASSERT_EQ(stat(made.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & (S_IRUSR | S_IWUSR), S_IRUSR | S_IWUSR);
  }
  EXPECT_EQ(ReadFile(root_ / "drive_c/Srv/server/patchinfo"), "KB1\r\n");
}

// The Windows launcher lets DLLs come from the system folder only, before it opens any file or
// starts the installer: wine's relay trace of a real run shows the call and its success.
TEST_F(Faults, DllSearchIsRestrictedBeforeAnythingElse) {
  if (!leg->IsWine()) GTEST_SKIP() << "Windows only: the DLL search order";
  Prepare(Ini("/exit:5"));
  ASSERT_EQ(leg->Run({}), 5);  // which also puts the launcher in its folder
  std::string trace;
  RunProgram({"sh", "-c",
              "wine 'C:\\hotfix\\kb1\\setup.exe' 2>&1 | "
              "grep -aE 'KERNEL32[.](SetDefaultDllDirectories|CreateFileA)'"},
             {"WINEPREFIX=" + root_.string(), "WINEDEBUG=+relay"}, &trace);
  const size_t success = trace.find("Ret  KERNEL32.SetDefaultDllDirectories() retval=00000001");
  EXPECT_NE(trace.find("Call KERNEL32.SetDefaultDllDirectories(00000800)"), std::string::npos);
  EXPECT_LT(success, trace.find("Call KERNEL32.CreateFileA")) << trace;
}

// Starts `count` launchers at once, as the last leg->Run() started it (that run left the launcher
// and, on Windows, its command line in place), and returns their exit statuses as Run does.
std::vector<int> RunAtOnce(int count) {
  std::vector<std::string> argv = options.wrapper;
  std::vector<std::string> env = {"HOTFIX_LAUNCHER_PREFIX=" + leg->Root().string()};
  if (leg->IsWine()) {
    argv = {"wine", "C:\\hotfix\\run_and_report.exe"};
    env = {"WINEPREFIX=" + leg->Root().string(), "WINEDEBUG=-all"};
  } else {
    argv.push_back((leg->LauncherFolder() / "setup").string());
  }
  std::vector<int> statuses(count, kNoExitStatus);
  std::vector<std::thread> threads;
  for (int& status : statuses) {
    threads.emplace_back([&argv, &env, &status] {
      std::string output;
      int waited = RunProgram(argv, env, &output);
      std::smatch match;
      if (!leg->IsWine() && WIFEXITED(waited)) status = WEXITSTATUS(waited);
      if (leg->IsWine() && std::regex_search(output, match, std::regex(R"(exit=(-?\d+))")))
        status = std::stoi(match[1]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  return statuses;
}

// Launchers started at once, each merging an installer log, append their records whole and on
// lines of their own; none is lost. The runs share c:\tmp.log, which each one empties as it
// starts, so what they merge is cut anywhere: only the records are checked, line by line.
TEST_F(Faults, ConcurrentRunsKeepEveryRecord) {
  constexpr int kRuns = 40;
  Prepare(Ini(""));
  std::string installerLog;
  for (int line = 0; installerLog.size() < 256 * 1024; ++line) {
    installerLog += "installer log line " + std::to_string(line) + "\r\n";
  }
  WriteFile(Folder() / "installer-log.bin", installerLog);
  EXPECT_EQ(leg->Run({}), 0);
  std::vector<int> statuses = RunAtOnce(kRuns);
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), kRuns);
  std::vector<std::regex> records;
  std::istringstream templates(Banner("") + kKeyMissing);
  for (std::string record; std::getline(templates, record);) {
    records.push_back(LogPattern(record + "\n", leg->LauncherDirectory()));
  }
  std::vector<int> counts(records.size(), 0);
  std::istringstream runLog(ReadFile(RunLog()));
  std::string line;
  std::getline(runLog, line);
  EXPECT_EQ(line, std::string(kEarlierRecord) + "\r");
  while (std::getline(runLog, line)) {
    if (line.find("KB1") == std::string::npos && line.find("****") == std::string::npos) continue;
    size_t kind = 0;
    while (kind < records.size() && !std::regex_match(line + "\n", records[kind])) ++kind;
    if (kind == records.size()) {
      ADD_FAILURE() << "not a whole record: " << line;
    } else {
      ++counts[kind];
    }
  }
  EXPECT_EQ(counts, std::vector<int>(records.size(), kRuns + 1));
}

// Records that other runs append while a run merges a large installer log each start a line of
// their own, whole, and the merged text around them is complete.
TEST_F(Faults, RecordsAmidAMergeStartTheirOwnLines) {
  Prepare(Ini(""));
  std::string installerLog;
  for (int line = 0; installerLog.size() < (size_t{16} << 20); ++line) {
    installerLog += "installer log line " + std::to_string(line) + " " +
                    std::string(line * 37 % 300, 'x') + "\r\n";
  }
  WriteFile(Folder() / "installer-log.bin", installerLog);
  // Another run's record: one append of one whole line, as a launcher writes it.
  const std::string other = "another run's record ";
  std::atomic<bool> running = true;
  int written = 0;
  std::thread otherRuns([&] {
    int fd = open(RunLog().c_str(), O_WRONLY | O_APPEND);
    while (fd >= 0 && running) {
      std::string record = other + std::to_string(written) + "\r\n";
      if (write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size())) ++written;
      std::this_thread::sleep_for(100us);
    }
    if (fd >= 0) close(fd);
  });
  EXPECT_EQ(leg->Run({}), 0);
  running = false;
  otherRuns.join();

  // The run log without the other runs' records must be what the run alone would have written.
  const std::string runLog = ReadFile(RunLog());
  std::string kept;
  std::string firstBad;
  int found = 0, bad = 0, amidMerge = 0, pending = 0, keptLines = 0;
  long last = -1;  // the number of the last record found
  for (size_t at = 0, end; at < runLog.size(); at = end + 2) {
    end = runLog.find("\r\n", at);
    if (end == std::string::npos) end = runLog.size();
    std::string line = runLog.substr(at, end - at);
    if (line.find(other) == std::string::npos) {
      kept += line + "\r\n";
      ++keptLines;
      amidMerge += pending;
      pending = 0;
      continue;
    }
    std::string number = line.rfind(other, 0) == 0 ? line.substr(other.size()) : "";
    ++found;
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
        std::stol(number) <= last) {
      if (bad++ == 0) firstBad = line;
      continue;
    }
    last = std::stol(number);
    if (keptLines > 6) ++pending;  // the earlier record and the run's five came first
  }
  EXPECT_EQ(bad, 0) << "records glued to other text or cut, the first: " << firstBad;
  // Wine appends by reading the size and then writing there. The launcher's lock keeps Wine
  // processes apart, not this one, so on Wine a record of this one can be overwritten in between.
  if (!leg->IsWine()) EXPECT_EQ(found, written);
  RecordProperty("records_lost", std::to_string(written - found));
  EXPECT_GT(amidMerge, 0) << "no record was appended while the run merged";
  size_t head = 0;
  for (int line = 0; line < 6 && head != std::string::npos; ++line) {
    head = kept.find("\r\n", head);
    if (head != std::string::npos) head += 2;
  }
  ASSERT_NE(head, std::string::npos);
  std::string expected = std::string(kEarlierRecord) + "\n" + Banner("") + kKeyMissing;
  EXPECT_TRUE(
      std::regex_match(kept.substr(0, head), LogPattern(expected, leg->LauncherDirectory())))
      << kept.substr(0, head);
  EXPECT_TRUE(kept.compare(head, std::string::npos, MergeOf(installerLog)) == 0)
      << "the merged text is not whole";
}

// When this process may mount, it takes a mount namespace of its own, so that no mount outlives
// it and none is seen outside.
bool TakeOwnMountNamespace() {
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) return false;
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Makes openat2 answer ENOSYS from now on, to this process and every program it starts, as a
// kernel without it does. Returns false when the filter could not be set.
bool RefuseOpenat2() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Started as `fault_test --inherit=STATE PROGRAM ARGS...`, this program plays a parent that
// starts PROGRAM: it sets the process state that STATE names and becomes PROGRAM, which it has
// killed by SIGALRM after kWatchdogSeconds. STATE is a comma-separated list of chld-ignored,
// usr1-ignored, term-blocked, fsize=BYTES (the file size limit), umask=OCTAL and no-openat2 (a
// kernel without openat2).
int InheritAndExec(const std::string& state, char** argv) {
  std::istringstream words(state);
  for (std::string word; std::getline(words, word, ',');) {
    if (word == kWithoutOpenat2 && !RefuseOpenat2()) return 126;
    if (word == "chld-ignored") signal(SIGCHLD, SIG_IGN);
    if (word == "usr1-ignored") signal(SIGUSR1, SIG_IGN);
    if (word == "term-blocked") {
      sigset_t blocked;
      sigemptyset(&blocked);
      sigaddset(&blocked, SIGTERM);
      sigprocmask(SIG_BLOCK, &blocked, nullptr);
    }
    if (word.rfind("fsize=", 0) == 0) {
      rlimit limit;
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = std::stoul(word.substr(6));
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (word.rfind("umask=", 0) == 0) umask(static_cast<mode_t>(std::stoul(word.substr(6), 0, 8)));
  }
  alarm(kWatchdogSeconds);
  execvp(argv[0], argv);
  return 127;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && strncmp(argv[1], kInheritFlag.c_str(), kInheritFlag.size()) == 0) {
    return InheritAndExec(argv[1] + kInheritFlag.size(), argv + 2);
  }
  ::testing::InitGoogleTest(&argc, argv);
  options = ParseHarnessOptions(argc, argv);
  if (options.leg == "linux") ownMountNamespace = TakeOwnMountNamespace();
  // On Linux the launcher lies on drive D, so that drive C can be replaced by a mount.
  leg = MakeLeg(options, options.leg == "linux" ? "drive_d/kb1" : "drive_c/hotfix/kb1");
  if (leg == nullptr) {
    fprintf(stderr,
            "usage: fault_test --leg=linux|wine --launcher=P --installer=P [--reporter=P]\n");
    return 2;
  }
  int result = RUN_ALL_TESTS();
  leg.reset();
  return result;
}
