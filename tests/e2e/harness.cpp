// The legs that run the real launcher, and the file and pattern helpers of the end-to-end tests.
#include "harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

const std::string kRebootPendingKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based "
    "Servicing\\RebootPending";
const std::string kNoRebootMarkers =
    "[-" + kRebootPendingKey +
    "]\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto "
    "Update\\RebootRequired]\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
    "Manager]\r\n\"PendingFileRenameOperations\"=-\r\n";

HarnessOptions ParseHarnessOptions(int argc, char** argv) {
  HarnessOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* flag) { return arg.substr(strlen(flag)); };
    auto path = [&](const char* flag) { return fs::absolute(value(flag)).string(); };
    if (arg.rfind("--leg=", 0) == 0) options.leg = value("--leg=");
    if (arg.rfind("--launcher=", 0) == 0) options.launcher = path("--launcher=");
    if (arg.rfind("--installer=", 0) == 0) options.installer = path("--installer=");
    if (arg.rfind("--reporter=", 0) == 0) options.reporter = path("--reporter=");
    if (arg.rfind("--preflight=", 0) == 0) options.preflight = path("--preflight=");
    if (arg.rfind("--wrapper=", 0) == 0) {
      std::istringstream words(value("--wrapper="));
      for (std::string word; words >> word;) options.wrapper.push_back(word);
    }
  }
  return options;
}

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

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
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

namespace {

// Moves what a capture file holds into *text, and closes it.
void TakeCapture(FILE* capture, std::string* text) {
  if (capture == nullptr) return;
  text->clear();
  rewind(capture);
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, capture)) > 0) text->append(buffer, count);
  fclose(capture);
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* output, Streams streams, std::string* errors,
               const std::string* input) {
  // Output goes to a file rather than a pipe, so that a process the program leaves running with
  // its streams cannot hold up the wait.
  FILE* capture = output != nullptr ? tmpfile() : nullptr;
  FILE* errorCapture = errors != nullptr ? tmpfile() : nullptr;
  FILE* inputFile = input != nullptr ? tmpfile() : nullptr;
  if ((output != nullptr && capture == nullptr) || (errors != nullptr && errorCapture == nullptr) ||
      (input != nullptr && inputFile == nullptr)) {
    return -1;
  }
  if (inputFile != nullptr) {
    fwrite(input->data(), 1, input->size(), inputFile);
    fflush(inputFile);
    rewind(inputFile);
  }
  pid_t pid = fork();
  if (pid == 0) {
    if (streams == Streams::kClosed) {
      for (int fd = 0; fd <= 2; ++fd) close(fd);
    } else {
      int out = streams == Streams::kFullOutput ? open("/dev/full", O_WRONLY)
                : capture != nullptr            ? fileno(capture)
                                                : open("/dev/null", O_WRONLY);
      dup2(out, 1);
      if (errorCapture != nullptr) dup2(fileno(errorCapture), 2);
      if (inputFile != nullptr) dup2(fileno(inputFile), 0);
    }
    // Only the standard streams go to the program, as a service manager starts one: the captures'
    // own descriptors would take from a lowered descriptor limit.
    close_range(3, ~0U, 0);
    for (const std::string& setting : env) putenv(strdup(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  TakeCapture(capture, output);
  TakeCapture(errorCapture, errors);
  if (inputFile != nullptr) fclose(inputFile);
  return status;
}

namespace {

std::string Escape(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

}  // namespace

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

namespace {

// The start of a command line that runs a program with at most `fileLimit` descriptors. The
// sanitizers' leak check needs descriptors of its own at exit, so it is off for such a run.
std::vector<std::string> LimitFiles(int fileLimit) {
  if (fileLimit == 0) return {};
  std::string limit = std::to_string(fileLimit);
  return {"env", "ASAN_OPTIONS=detect_leaks=0", "prlimit", "--nofile=" + limit + ":" + limit, "--"};
}

// Every entry below the root's drives (and the Linux registry file): its kind, size and times.
std::map<std::string, std::string> SnapshotFiles(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).string();
    if (relative.rfind("drive_", 0) != 0 && relative != "HKLM.reg") continue;
    struct stat status;
    if (lstat(entry.path().c_str(), &status) != 0) continue;
    entries[relative] = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) +
                        " " + std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec);
  }
  return entries;
}

// Names what differs between two snapshots of files, or the lines of two texts, rather than
// printing them whole.
std::string Differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
  std::string differences;
  for (const auto& [path, entry] : before) {
    auto found = after.find(path);
    if (found == after.end()) differences += "removed: " + path + "\n";
    if (found != after.end() && found->second != entry) differences += "changed: " + path + "\n";
  }
  for (const auto& [path, entry] : after) {
    if (before.count(path) == 0) differences += "added: " + path + "\n";
  }
  return differences;
}

std::map<std::string, std::string> Lines(const std::string& text) {
  std::map<std::string, std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines[line] += "+";
  return lines;
}

}  // namespace

void Leg::Reset() {
  for (const char* name : {"drive_c/hotfix", "drive_c/Srv", "drive_e", "drive_c/tmp.log",
                           "drive_c/QOR_Updates_InstallOS.log"}) {
    fs::remove_all(root_ / name);
  }
  fs::remove_all(LauncherFolder());
  fs::create_directories(root_ / "drive_c");
  fs::create_directories(LauncherFolder());
}

namespace {

class LinuxLeg : public Leg {
 public:
  LinuxLeg(const HarnessOptions& options, const fs::path& launcherFolder) : options_(options) {
    // The prefix lies in a folder of its own, which rows may hand to another owner or mode.
    char pattern[] = "/tmp/hotfix-e2e-XXXXXX";
    fs::path holder = mkdtemp(pattern);
    fs::permissions(holder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    root_ = holder / "prefix";
    launcherFolder_ = launcherFolder;
    fs::create_directories(root_ / "drive_c");
    fs::permissions(root_, fs::perms::owner_all);
  }
  ~LinuxLeg() override { fs::remove_all(root_.parent_path()); }
  bool IsWine() const override { return false; }
  // The launcher names its folder as a Windows path: "drive_x/a/b" below the root is "X:\a\b\".
  std::string LauncherDirectory() const override {
    std::string folder = launcherFolder_.string();
    std::string directory = {static_cast<char>(toupper(folder[6])), ':'};
    for (char c : folder.substr(7)) directory += c == '/' ? '\\' : c;
    return directory + "\\";
  }
  void WriteRegistry(const std::string& lines, const std::string& systemLines) override {
    WriteFile(root_ / "HKLM.reg", "REGEDIT4\r\n\r\n" + lines + systemLines);
  }
  fs::path HostFile(const std::string& hostPath) const override { return hostPath; }
  std::string LauncherFileName() const override { return "setup"; }
  std::string BundleArgument() const override { return LauncherFolder().string(); }
  void PlacePreflight(bool besideLauncher) override {
    if (besideLauncher) {
      fs::copy_file(options_.preflight, LauncherFolder() / "hotfix-preflight",
                    fs::copy_options::overwrite_existing);
    }
  }
  PreflightRun RunPreflight(const PreflightCall& call) override {
    fs::path program =
        call.besideLauncher ? LauncherFolder() / "hotfix-preflight" : fs::path(options_.preflight);
    std::vector<std::string> argv = LimitFiles(call.fileLimit);
    fs::path copyForNobody;
    if (call.asNobody) {
      // Nobody may not search the build tree (a checkout under /root, say), and valgrind must
      // read the program: run a copy in the prefix's root, which such a run opens to others.
      copyForNobody = root_ / program.filename();
      fs::copy_file(program, copyForNobody, fs::copy_options::overwrite_existing);
      program = copyForNobody;
      argv.insert(argv.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    argv.insert(argv.end(), options_.wrapper.begin(), options_.wrapper.end());
    argv.push_back(program.string());
    argv.insert(argv.end(), call.args.begin(), call.args.end());
    PreflightRun run;
    std::map<std::string, std::string> before = SnapshotFiles(root_);
    int status = RunProgram(argv, {"HOTFIX_LAUNCHER_PREFIX=" + root_.string()}, &run.output,
                            call.fullOutput ? Streams::kFullOutput : Streams::kUsual, &run.errors,
                            call.input);
    run.changes = Differences(before, SnapshotFiles(root_));
    if (!copyForNobody.empty()) fs::remove(copyForNobody);
    // Valgrind's own notes ("--PID-- ...", such as the one for a system call it does not know)
    // are not the program's; its error reports ("==PID== ...") stay.
    if (!options_.wrapper.empty()) {
      run.errors = std::regex_replace(run.errors, std::regex("--[0-9]+-- [^\n]*\n"), "");
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : kNoExitStatus;
    return run;
  }
  void PlaceLauncher(bool linkOutside) override {
    fs::path setup = LauncherFolder() / "setup";
    fs::remove(setup);
    if (linkOutside) {
      fs::create_symlink(options_.launcher, setup);
    } else {
      fs::copy_file(options_.launcher, setup);
    }
  }
  int Run(const LaunchRequest& request) override {
    if (!fs::exists(fs::symlink_status(LauncherFolder() / "setup"))) PlaceLauncher(false);
    std::vector<std::string> argv = LimitFiles(request.fileLimit);
    argv.insert(argv.end(), options_.wrapper.begin(), options_.wrapper.end());
    argv.push_back((LauncherFolder() / "setup").string());
    argv.insert(argv.end(), request.tail.begin(), request.tail.end());
    int status = RunProgram(argv, {"HOTFIX_LAUNCHER_PREFIX=" + root_.string()}, nullptr,
                            request.closedStreams ? Streams::kClosed : Streams::kUsual);
    return WIFEXITED(status) ? WEXITSTATUS(status) : kNoExitStatus;
  }

 private:
  HarnessOptions options_;
};

// The Windows build under wine, with one wine server for all runs. Scenarios give their registry
// keys as the launcher, a 32-bit program, names them; where that view lies depends on the
// Windows: on a 64-bit one (the x64 build's KEY_WOW64_32KEY, or WoW64 for the 32-bit product)
// under SOFTWARE\Wow6432Node, on a 32-bit one under SOFTWARE itself.
class WineLeg : public Leg {
 public:
  WineLeg(const HarnessOptions& options, bool windows32)
      : options_(options), windows32_(windows32) {
    char pattern[] = "/tmp/hotfix-e2e-wine-XXXXXX";
    root_ = mkdtemp(pattern);
    env_ = {"WINEPREFIX=" + root_.string(), "WINEDEBUG=-all",
            std::string("WINEARCH=") + (windows32 ? "win32" : "win64")};
    // The new prefix settles first (its boot's services write their files), then a persistent
    // server spares every run the server's start.
    RunProgram({"wineboot", "-i"}, env_);
    RunProgram({"wineserver", "-w"}, env_);
    RunProgram({"wineserver", "-p"}, env_);
    fs::create_directories(root_ / "drive_e");
    fs::create_symlink("../drive_e", root_ / "dosdevices/e:");
  }
  ~WineLeg() override {
    // The server writes the registry out as it ends: only then is the prefix removed whole.
    RunProgram({"wineserver", "-k"}, env_);
    RunProgram({"wineserver", "-w"}, env_);
    fs::remove_all(root_);
  }
  bool IsWine() const override { return true; }
  std::string LauncherDirectory() const override { return "C:\\hotfix\\kb1\\"; }
  void WriteRegistry(const std::string& lines, const std::string& systemLines) override {
    const std::string software = windows32_ ? "SOFTWARE\\" : "SOFTWARE\\Wow6432Node\\";
    std::string reg =
        "REGEDIT4\r\n\r\n"
        "[-HKEY_LOCAL_MACHINE\\" +
        software +
        "ExampleHotfix]\r\n"
        "[-HKEY_LOCAL_MACHINE\\" +
        software + "Qor]\r\n" +
        std::regex_replace(lines, std::regex(R"(HKEY_LOCAL_MACHINE\\SOFTWARE\\)"),
                           "HKEY_LOCAL_MACHINE\\" + software) +
        systemLines;
    WriteFile(root_ / "drive_c/hotfix/registry.reg", reg);
    RunProgram({RegLoader(), "reg", "import", "C:\\hotfix\\registry.reg"}, env_);
  }
  // "X:\rest" lies in the prefix's drive_x, each backslash a folder.
  fs::path HostFile(const std::string& hostPath) const override {
    std::string rest = hostPath.substr(std::min<size_t>(hostPath.size(), 3));
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return root_ / (std::string("drive_") + static_cast<char>(tolower(hostPath[0]))) / rest;
  }
  std::string LauncherFileName() const override { return "setup.exe"; }
  std::string BundleArgument() const override { return "C:\\hotfix\\kb1"; }
  void PlacePreflight(bool besideLauncher) override {
    fs::copy_file(
        options_.preflight,
        (besideLauncher ? LauncherFolder() : root_ / "drive_c/hotfix") / "hotfix-preflight.exe",
        fs::copy_options::overwrite_existing);
  }
  // Through the reporter, which saves HKEY_LOCAL_MACHINE right before and after the preflight in
  // the same server session: a change to the registry changes the saved text, key times
  // included. An output that cannot be written leaves no room for the reporter's own.
  PreflightRun RunPreflight(const PreflightCall& call) override {
    std::string program = call.besideLauncher ? "C:\\hotfix\\kb1\\hotfix-preflight.exe"
                                              : "C:\\hotfix\\hotfix-preflight.exe";
    PreflightRun run;
    if (call.fullOutput) {
      std::vector<std::string> argv = {"wine", program};
      argv.insert(argv.end(), call.args.begin(), call.args.end());
      int status =
          RunProgram(argv, env_, &run.output, Streams::kFullOutput, &run.errors, call.input);
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : kNoExitStatus;
      return run;
    }
    std::string line = QuoteArgument(program);
    for (const std::string& arg : call.args) line += " " + QuoteArgument(arg);
    fs::path saves = root_ / "saves";
    fs::create_directories(saves);
    PlaceReporter(line);
    std::map<std::string, std::string> before = SnapshotFiles(root_);
    run.status = Report(&run.output, WindowsPath(saves), &run.errors, call.input, call.heldOpen);
    std::string registryBefore = ReadFile(saves / "before.reg");
    run.changes = Differences(before, SnapshotFiles(root_)) +
                  Differences(Lines(registryBefore), Lines(ReadFile(saves / "after.reg"))) +
                  (registryBefore.empty() ? "the registry was not saved\n" : "");
    return run;
  }
  void PlaceLauncher(bool) override {
    fs::copy_file(options_.launcher, LauncherFolder() / "setup.exe",
                  fs::copy_options::overwrite_existing);
  }
  int Run(const LaunchRequest& request) override {
    if (!fs::exists(LauncherFolder() / "setup.exe")) PlaceLauncher(false);
    std::string line = request.windowsCommandLine;
    if (line.empty()) {
      line = "\"C:\\hotfix\\kb1\\setup.exe\"";
      for (const std::string& arg : request.tail) line += " " + QuoteArgument(arg);
    }
    PlaceReporter(line);
    std::string output;
    return Report(&output, "", nullptr, nullptr, request.heldOpen);
  }

 private:
  // On a 64-bit Windows only the 64-bit reg.exe takes Wow6432Node paths as they stand (the 32-bit
  // one would redirect them a second time), and only it writes the system view.
  std::string RegLoader() const { return windows32_ ? "wine" : "/usr/lib/wine/wine64"; }

  // The host path `path` as drive Z names it.
  static std::string WindowsPath(const fs::path& path) {
    std::string windows = "Z:" + path.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
  }

  // Puts the reporter and the command line it runs into drive C.
  void PlaceReporter(const std::string& line) {
    fs::copy_file(options_.reporter, root_ / "drive_c/hotfix/run_and_report.exe",
                  fs::copy_options::overwrite_existing);
    WriteFile(root_ / "drive_c/hotfix/command.txt", line);
  }

  // Runs the placed command line through the reporter (with `saves`, saving the registry around
  // it, its standard streams the command's; with `held`, holding that file open meanwhile) and
  // returns the command's full exit status; *output is what came before the reporter's own line.
  int Report(std::string* output, const std::string& saves = "", std::string* errors = nullptr,
             const std::string* input = nullptr, const std::string& held = "") {
    std::vector<std::string> argv = {"wine", "C:\\hotfix\\run_and_report.exe"};
    if (!held.empty()) argv.push_back("--hold=" + held);
    if (!saves.empty()) argv.push_back(saves);
    RunProgram(argv, env_, output, Streams::kUsual, errors, input);
    std::smatch match;
    if (!std::regex_search(*output, match, std::regex(R"(exit=(-?\d+)\r?\n?$)"))) {
      ADD_FAILURE() << "no exit status reported: " << *output;
      return kNoExitStatus;
    }
    int status = std::stoi(match[1]);
    output->erase(static_cast<size_t>(match.position(0)));
    return status;
  }

  HarnessOptions options_;
  bool windows32_;
  std::vector<std::string> env_;
};

}  // namespace

std::unique_ptr<Leg> MakeLeg(const HarnessOptions& options, const fs::path& launcherFolder) {
  // Bundles are laid out as a rollout stages them, writable by their owner alone, whatever umask
  // the test run started with: the preflight's staging check calls anything else unsafe.
  umask(022);
  if (options.leg == "linux") return std::make_unique<LinuxLeg>(options, launcherFolder);
  if (options.leg == "wine" || options.leg == "wow64") {
    return std::make_unique<WineLeg>(options, false);
  }
  if (options.leg == "win32") return std::make_unique<WineLeg>(options, true);
  return nullptr;
}
