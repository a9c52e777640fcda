// Runs every scenario through a real launcher binary: the Linux build in a temporary prefix, or
// the Windows build under wine64 in a temporary prefix of its own, and checks the run log's exact
// bytes, the emptied installer log, the patch-info file and the exit status.
//
//   e2e_test --leg=linux --launcher=PATH --installer=PATH [--wrapper="valgrind ..."]
//   e2e_test --leg=wine --launcher=EXE --installer=EXE --reporter=EXE
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "scenarios.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string leg, launcher, installer, reporter;
  std::vector<std::string> wrapper;  // a program the Linux launcher runs under, with its options
} options;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Quotes one argument by the Microsoft C runtime's rules, as the Linux port forms its tail.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  return quoted.append(backslashes * 2, '\\') + "\"";
}

// Runs a program with arguments and environment additions; returns its wait status, and its
// standard output in *output when asked.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* output = nullptr) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeEnds[1], 1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    for (const std::string& setting : env) putenv(strdup(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string text;
  char buffer[4096];
  ssize_t count;
  while ((count = read(pipeEnds[0], buffer, sizeof buffer)) > 0) text.append(buffer, count);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (output != nullptr) *output = text;
  return status;
}

std::string Escape(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// Turns a run-log template into a pattern: "\n" is stored as CR LF, {T} is any time stamp, {DIR}
// the launcher directory, {MSG} an optional record of a system message (its own CR LF included).
std::regex LogPattern(const std::string& expected, const std::string& directory) {
  const std::string stamp = R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2} : )";
  std::string pattern;
  for (size_t i = 0; i < expected.size();) {
    if (expected.compare(i, 3, "{T}") == 0) {
      pattern += stamp;
      i += 3;
    } else if (expected.compare(i, 5, "{DIR}") == 0) {
      pattern += Escape(directory);
      i += 5;
    } else if (expected.compare(i, 5, "{MSG}") == 0) {
      pattern += "(" + stamp + "KB1, " + Escape(directory) + " setup [^\\r\\n]*\\r\\r\\n\\r\\n)?";
      i += 5;
    } else if (expected[i] == '\n') {
      pattern += "\\r\\n";
      ++i;
    } else {
      pattern += Escape(std::string(1, expected[i]));
      ++i;
    }
  }
  return std::regex(pattern);
}

// One platform the scenarios run on: a root folder that holds the drives (a Linux prefix or a
// wine prefix), and the way to start the launcher there.
class Leg {
 public:
  virtual ~Leg() = default;
  virtual bool Runs(Legs legs) const = 0;
  virtual std::string LauncherDirectory() const = 0;
  virtual void WriteRegistry(const std::string& lines) = 0;
  virtual int Run(const Scenario& scenario) = 0;
  const fs::path& Root() const { return root_; }
  fs::path LauncherFolder() const { return root_ / "drive_c/hotfix/kb1"; }

  // Empties the drives of everything an earlier scenario left.
  void Reset() {
    for (const char* name : {"drive_c/hotfix", "drive_c/Srv", "drive_e", "drive_c/tmp.log",
                             "drive_c/QOR_Updates_InstallOS.log"}) {
      fs::remove_all(root_ / name);
    }
    fs::create_directories(LauncherFolder());
  }

 protected:
  fs::path root_;
};

class LinuxLeg : public Leg {
 public:
  LinuxLeg() {
    char pattern[] = "/tmp/hotfix-e2e-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(root_ / "drive_c");
  }
  ~LinuxLeg() override { fs::remove_all(root_); }
  bool Runs(Legs legs) const override { return legs != Legs::kWindowsOnly; }
  std::string LauncherDirectory() const override { return LauncherFolder().string() + "/"; }
  void WriteRegistry(const std::string& lines) override {
    WriteFile(root_ / "HKLM.reg", "REGEDIT4\r\n\r\n" + lines);
  }
  int Run(const Scenario& scenario) override {
    fs::copy_file(options.launcher, LauncherFolder() / "setup");
    std::vector<std::string> argv = options.wrapper;
    argv.push_back((LauncherFolder() / "setup").string());
    argv.insert(argv.end(), scenario.tail.begin(), scenario.tail.end());
    int status = RunProgram(argv, {"HOTFIX_LAUNCHER_PREFIX=" + root_.string()});
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
  }
};

class WineLeg : public Leg {
 public:
  WineLeg() {
    char pattern[] = "/tmp/hotfix-e2e-wine-XXXXXX";
    root_ = mkdtemp(pattern);
    env_ = {"WINEPREFIX=" + root_.string(), "WINEDEBUG=-all"};
    RunProgram({"wineboot", "-i"}, env_);
    // A persistent server spares every scenario the server's start.
    RunProgram({"wineserver", "-p"}, env_);
    fs::create_directories(root_ / "drive_e");
    fs::create_symlink("../drive_e", root_ / "dosdevices/e:");
  }
  ~WineLeg() override {
    RunProgram({"wineserver", "-k"}, env_);
    fs::remove_all(root_);
  }
  bool Runs(Legs legs) const override { return legs != Legs::kLinuxOnly; }
  std::string LauncherDirectory() const override { return "C:\\hotfix\\kb1\\"; }
  // The launcher reads the 32-bit view, which keeps SOFTWARE under Wow6432Node.
  void WriteRegistry(const std::string& lines) override {
    std::string reg = "REGEDIT4\r\n\r\n"
                      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\ExampleHotfix]\r\n"
                      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Qor]\r\n" +
                      std::regex_replace(lines, std::regex(R"(HKEY_LOCAL_MACHINE\\SOFTWARE\\)"),
                                         R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\)");
    WriteFile(root_ / "drive_c/hotfix/registry.reg", reg);
    RunProgram({"wine", "regedit", "/S", "C:\\hotfix\\registry.reg"}, env_);
  }
  int Run(const Scenario& scenario) override {
    fs::copy_file(options.launcher, LauncherFolder() / "setup.exe");
    fs::copy_file(options.reporter, root_ / "drive_c/hotfix/run_and_report.exe");
    std::string line = scenario.windowsCommandLine;
    if (line.empty()) {
      line = "\"C:\\hotfix\\kb1\\setup.exe\"";
      for (const std::string& arg : scenario.tail) line += " " + QuoteArgument(arg);
    }
    WriteFile(root_ / "drive_c/hotfix/command.txt", line);
    std::string output;
    RunProgram({"wine", "C:\\hotfix\\run_and_report.exe"}, env_, &output);
    std::smatch match;
    if (!std::regex_search(output, match, std::regex(R"(exit=(-?\d+))"))) {
      ADD_FAILURE() << "no exit status reported: " << output;
      return -1000;
    }
    return std::stoi(match[1]);
  }

 private:
  std::vector<std::string> env_;
};

Leg* leg = nullptr;

class Scenarios : public ::testing::TestWithParam<Scenario> {};

TEST_P(Scenarios, RunLogPatchInfoAndExitStatus) {
  const Scenario& scenario = GetParam();
  if (!leg->Runs(scenario.legs)) GTEST_SKIP() << "not on this platform";
  leg->Reset();
  const fs::path root = leg->Root();
  WriteFile(root / "drive_c/QOR_Updates_InstallOS.log", std::string(kEarlierRecord) + "\r\n");
  WriteFile(root / "drive_c/tmp.log", "stale installer log\r\n");
  if (scenario.hasIni) WriteFile(leg->LauncherFolder() / "Installer.ini", scenario.ini);
  if (scenario.installerPresent) {
    fs::path installer = leg->LauncherFolder() / "kb1.exe";
    fs::copy_file(options.installer, installer);
    if (!scenario.installerExecutable) fs::permissions(installer, fs::perms::owner_read);
  }
  if (!scenario.installerLog.empty()) {
    WriteFile(leg->LauncherFolder() / "installer-log.bin", scenario.installerLog);
  }
  for (const std::string& folder : scenario.folders) fs::create_directories(root / folder);
  if (!scenario.earlierPatchInfo.empty()) {
    WriteFile(root / scenario.patchInfoPath, scenario.earlierPatchInfo);
  }
  leg->WriteRegistry(scenario.registry);

  int status = leg->Run(scenario);

  int expectedStatus = options.leg == "linux" ? (scenario.status & 0xFF) : scenario.status;
  EXPECT_EQ(status, expectedStatus);
  std::string runLog = ReadFile(root / "drive_c/QOR_Updates_InstallOS.log");
  std::string expectedLog = std::string(kEarlierRecord) + "\n" + scenario.runLog;
  EXPECT_TRUE(std::regex_match(runLog, LogPattern(expectedLog, leg->LauncherDirectory())))
      << "run log:\n" << runLog << "\nexpected:\n" << expectedLog;
  bool installerRan = scenario.runLog.find("*******  Installing") != std::string::npos &&
                     scenario.runLog.find("Failed to create process") == std::string::npos;
  if (!installerRan) {
    EXPECT_EQ(ReadFile(root / "drive_c/tmp.log"), "") << "the installer log was not emptied";
  }
  if (!scenario.patchInfoPath.empty()) {
    EXPECT_EQ(ReadFile(root / scenario.patchInfoPath), scenario.patchInfo);
  }
}

INSTANTIATE_TEST_SUITE_P(All, Scenarios, ::testing::ValuesIn(AllScenarios()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* flag) { return arg.substr(strlen(flag)); };
    if (arg.rfind("--leg=", 0) == 0) options.leg = value("--leg=");
    if (arg.rfind("--launcher=", 0) == 0) options.launcher = fs::absolute(value("--launcher=")).string();
    if (arg.rfind("--installer=", 0) == 0) options.installer = fs::absolute(value("--installer=")).string();
    if (arg.rfind("--reporter=", 0) == 0) options.reporter = fs::absolute(value("--reporter=")).string();
    if (arg.rfind("--wrapper=", 0) == 0) {
      std::istringstream words(value("--wrapper="));
      for (std::string word; words >> word;) options.wrapper.push_back(word);
    }
  }
  if (options.leg == "linux") {
    leg = new LinuxLeg;
  } else if (options.leg == "wine") {
    leg = new WineLeg;
  } else {
    fprintf(stderr, "usage: e2e_test --leg=linux|wine --launcher=P --installer=P [--reporter=P]\n");
    return 2;
  }
  int result = RUN_ALL_TESTS();
  delete leg;
  return result;
}
