// Runs the launcher and its baselines as child processes, interleaved (A B A B ...), and prints one
// tab-separated row per measurement: what, the launcher's figure, the baseline's, their ratio, and
// the target with PASS or MISS (or "-" where there is none).
//
//   bench_runner --launcher=P --noop=P --sleeper=P --spawner=P --merge-driver=P --probe=P
//   --work=DIR
//                [--runs=500] [--sleep-runs=5] [--merge-sizes=8,64,256]
//                [--wine-prefix=DIR --wine-launcher=P --wine-noop=P --wine-runs=20]
//                [--rows=overhead,merge,wait,wine]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Options {
  std::string launcher, noop, sleeper, spawner, mergeDriver, probe, work;
  int runs = 500;
  int sleepRuns = 5;
  std::vector<int> mergeSizesMiB = {8, 64, 256};
  std::string winePrefix, wineLauncher, wineNoop;
  int wineRuns = 20;
  std::string rows = "overhead,merge,wait,wine";
};

// One child run as its parent sees it.
struct Sample {
  double wallMs = 0;
  double cpuMs = 0;      // user + system, the child's own and its waited-for children's
  double maxRssKiB = 0;  // the largest resident set of the child or any of its children
  int status = -1;       // exit status, or 128 + signal
};

[[noreturn]] void Fail(const std::string& why) {
  fprintf(stderr, "bench_runner: %s\n", why.c_str());
  exit(1);
}

// The small static program every measured program is started from (see run_probe.c).
std::string probe;

// Starts `argv` from the probe with this process's environment, its standard output to
// `outputPath` when one is given (created afresh), and collects what the probe measured.
Sample Run(const std::vector<std::string>& argv, const char* outputPath = nullptr) {
  std::vector<char*> vector = {const_cast<char*>(probe.c_str())};
  for (const std::string& argument : argv) vector.push_back(const_cast<char*>(argument.c_str()));
  vector.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) Fail("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, report[1], 3);
  if (outputPath != nullptr) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath,
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid;
  if (posix_spawn(&pid, vector[0], &actions, nullptr, vector.data(), environ) != 0) {
    Fail("cannot start " + probe);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(report[1]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail("the probe could not run " + argv[0]);
  }
  char text[128] = {};
  ssize_t got = read(report[0], text, sizeof text - 1);
  close(report[0]);
  long long wallNs = 0, cpuNs = 0;
  long maxRssKiB = 0;
  Sample sample;
  if (got <= 0 ||
      sscanf(text, "%lld %lld %ld %d", &wallNs, &cpuNs, &maxRssKiB, &sample.status) != 4) {
    Fail("no report from the probe for " + argv[0]);
  }
  sample.wallMs = wallNs / 1e6;
  sample.cpuMs = cpuNs / 1e6;
  sample.maxRssKiB = static_cast<double>(maxRssKiB);
  return sample;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

template <typename Field>
double MedianOf(const std::vector<Sample>& samples, Field field) {
  std::vector<double> values;
  for (const Sample& sample : samples) values.push_back(sample.*field);
  return Median(values);
}

void RequireAllSucceeded(const std::vector<Sample>& samples, const std::string& what) {
  for (const Sample& sample : samples) {
    if (sample.status != 0) Fail(what + " exited with " + std::to_string(sample.status));
  }
}

std::string Format(const char* format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

// Prints a row; `met` < 0 means the row has no target.
void PrintRow(const std::string& what, const std::string& launcher, const std::string& baseline,
              double ratio, const std::string& target, int met) {
  std::string verdict = met < 0 ? target : target + " " + (met ? "PASS" : "MISS");
  printf("%s\t%s\t%s\t%s\t%s\n", what.c_str(), launcher.c_str(), baseline.c_str(),
         Format("%.3f", ratio).c_str(), verdict.c_str());
  fflush(stdout);
}

void WriteFile(const fs::path& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) Fail("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void CopyProgram(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec);
}

std::string InstallerIni(const std::string& installerName) {
  return "[MicrosoftPatch]\r\nAppName=" + installerName +
         "\r\nDaziveID=KB0000001\r\nMicrosoftRegKey=SOFTWARE\\BenchHotfix\r\n"
         "RegKeyName=Installed\r\nRegKeyValue=1\r\nRunParams=/quiet\r\n";
}

// The check passes (Installed is 1) and the patch-info file lies in a folder that exists.
std::string MachineRegistry(const std::string& software) {
  return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + software + "\\Qor\\SERVER]\r\n" +
         "\"ProgramPath\"=\"C:\\\\Qor\"\r\n\r\n[HKEY_LOCAL_MACHINE\\" + software +
         "\\BenchHotfix]\r\n\"Installed\"=dword:00000001\r\n";
}

size_t CountLines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Where a bundle lies below the prefix: in a drive folder, as the example bundle does, since the
// Linux launcher runs only from there.
constexpr char kBundle[] = "drive_c/hotfix/bundle";

// A prefix where every run of `installer` passes its check and records the patch; returns the
// launcher's path, beside its Installer.ini and installer.
std::string MakeLinuxBundle(const Options& options, const fs::path& prefix,
                            const std::string& bundle, const std::string& installer) {
  fs::create_directories(prefix / "drive_c" / "Qor" / "server");
  WriteFile(prefix / "HKLM.reg", MachineRegistry("SOFTWARE"));
  fs::path folder = prefix / bundle;
  fs::create_directories(folder);
  CopyProgram(options.launcher, folder / "setup");
  CopyProgram(installer, folder / "installer");
  WriteFile(folder / "Installer.ini", InstallerIni("installer"));
  return (folder / "setup").string();
}

// Each launcher run must have passed the check and appended its patch id, and reported nothing
// else in the run log than its three banner records.
void CheckRuns(const fs::path& prefix, size_t launcherRuns) {
  std::string patchInfo = ReadFile(prefix / "drive_c" / "Qor" / "server" / "patchinfo");
  std::string runLog = ReadFile(prefix / "drive_c" / "QOR_Updates_InstallOS.log");
  if (CountLines(patchInfo) != launcherRuns || CountLines(runLog) != 3 * launcherRuns) {
    Fail("the launcher runs did not all record their patch (" + std::to_string(launcherRuns) +
         " runs, " + std::to_string(CountLines(patchInfo)) + " patch-info lines, " +
         std::to_string(CountLines(runLog)) + " run-log lines)");
  }
}

void ForgetLinuxRuns(const fs::path& prefix) {
  fs::remove(prefix / "drive_c" / "Qor" / "server" / "patchinfo");
  fs::remove(prefix / "drive_c" / "QOR_Updates_InstallOS.log");
  fs::remove(prefix / "drive_c" / "tmp.log");
}

// Runs A and B alternately `runs` times each after `warmups` discarded pairs.
void Interleave(const std::vector<std::string>& a, const std::vector<std::string>& b, int warmups,
                int runs, std::vector<Sample>* aSamples, std::vector<Sample>* bSamples) {
  for (int i = 0; i < warmups; ++i) {
    Run(a);
    Run(b);
  }
  for (int i = 0; i < runs; ++i) {
    aSamples->push_back(Run(a));
    bSamples->push_back(Run(b));
  }
}

// Rows 1 and 4: wall time and peak memory of a whole run with the no-op installer.
void MeasureOverhead(const Options& options) {
  fs::path prefix = fs::path(options.work) / "overhead";
  std::string launcher = MakeLinuxBundle(options, prefix, kBundle, options.noop);
  std::string installer = (prefix / kBundle / "installer").string();
  ForgetLinuxRuns(prefix);
  setenv("HOTFIX_LAUNCHER_PREFIX", prefix.c_str(), 1);
  const int kWarmups = 20;
  std::vector<Sample> launcherRuns, spawnerRuns;
  Interleave({launcher}, {options.spawner, installer}, kWarmups, options.runs, &launcherRuns,
             &spawnerRuns);
  RequireAllSucceeded(launcherRuns, "the launcher");
  RequireAllSucceeded(spawnerRuns, "the minimal spawner");
  CheckRuns(prefix, static_cast<size_t>(kWarmups + options.runs));

  double launcherMs = MedianOf(launcherRuns, &Sample::wallMs);
  double spawnerMs = MedianOf(spawnerRuns, &Sample::wallMs);
  double ratio = launcherMs / spawnerMs;
  PrintRow("1. overhead: wall time per run, no-op installer (median of " +
               std::to_string(options.runs) + " each)",
           Format("%.3f ms", launcherMs), Format("%.3f ms", spawnerMs), ratio, "<= 1.25",
           ratio <= 1.25);

  double launcherKiB = MedianOf(launcherRuns, &Sample::maxRssKiB);
  double spawnerKiB = MedianOf(spawnerRuns, &Sample::maxRssKiB);
  ratio = launcherKiB / spawnerKiB;
  PrintRow("4. memory: peak RSS of a whole run (ru_maxrss, median)",
           Format("%.0f KiB", launcherKiB), Format("%.0f KiB", spawnerKiB), ratio, "<= 1.5",
           ratio <= 1.5);
}

// Row 3: what the launcher spends while its installer sleeps for five seconds.
void MeasureWaiting(const Options& options) {
  fs::path prefix = fs::path(options.work) / "waiting";
  std::string launcher = MakeLinuxBundle(options, prefix, kBundle, options.sleeper);
  std::string installer = (prefix / kBundle / "installer").string();
  ForgetLinuxRuns(prefix);
  setenv("HOTFIX_LAUNCHER_PREFIX", prefix.c_str(), 1);
  std::vector<Sample> launcherRuns, spawnerRuns;
  Interleave({launcher}, {options.spawner, installer}, 0, options.sleepRuns, &launcherRuns,
             &spawnerRuns);
  RequireAllSucceeded(launcherRuns, "the launcher");
  RequireAllSucceeded(spawnerRuns, "the minimal spawner");
  CheckRuns(prefix, static_cast<size_t>(options.sleepRuns));
  double launcherMs = MedianOf(launcherRuns, &Sample::cpuMs);
  double spawnerMs = MedianOf(spawnerRuns, &Sample::cpuMs);
  PrintRow(
      "3. waiting: CPU (user+sys) of a whole run, the installer's start included, while "
      "the installer sleeps 5 s (median of " +
          std::to_string(options.sleepRuns) + " each)",
      Format("%.3f ms", launcherMs), Format("%.3f ms", spawnerMs), launcherMs / spawnerMs, "< 2 ms",
      launcherMs < 2.0);
}

// An installer log of `bytes` (whole lines, so slightly more) of 40 to 200 characters each, in CR
// LF, that look like what installers write: a time stamp, a component and words.
void WriteInstallerLog(const fs::path& path, size_t bytes) {
  static const char* const kWords[] = {
      "Installing", "package",   "component", "registry",   "value",
      "updated",    "file",      "copied",    "to",         "C:\\Windows\\System32",
      "succeeded",  "servicing", "stack",     "0x00000000", "reboot",
      "pending",    "manifest",  "staged",    "KB5001234",  "amd64",
      "done",       "the"};
  constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
  uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state](uint64_t range) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return (state >> 33) % range;
  };
  std::string chunk;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  size_t written = 0;
  for (uint64_t line = 0; written < bytes; ++line) {
    size_t length = 40 + next(161);
    char head[64];
    snprintf(head, sizeof head, "2024-05-%02u 10:%02u:%02u.%03u [%5u] ",
             static_cast<unsigned>(1 + line / 86400 % 28), static_cast<unsigned>(line / 60 % 60),
             static_cast<unsigned>(line % 60), static_cast<unsigned>(next(1000)),
             static_cast<unsigned>(1000 + next(9000)));
    std::string text = head;
    while (text.size() < length) {
      text += kWords[next(kWordCount)];
      text += ' ';
    }
    text.resize(length);
    chunk += text;
    chunk += "\r\n";
    written += length + 2;
    if (chunk.size() >= (1u << 20)) {
      out << chunk;
      chunk.clear();
    }
  }
  out << chunk;
  if (!out) Fail("cannot write " + path.string());
}

// Row 2: the merge of installer logs of several sizes against cat of the same file.
void MeasureMerge(const Options& options) {
  fs::path prefix = fs::path(options.work) / "merge";
  fs::path drive = prefix / "drive_c";
  fs::create_directories(drive);
  setenv("HOTFIX_LAUNCHER_PREFIX", prefix.c_str(), 1);
  fs::path installerLog = drive / "tmp.log";
  fs::path runLog = drive / "QOR_Updates_InstallOS.log";
  fs::path catOutput = drive / "cat.out";
  std::vector<double> mergePerMiB, catPerMiB;  // milliseconds per MiB, by size
  for (int sizeMiB : options.mergeSizesMiB) {
    WriteInstallerLog(installerLog, static_cast<size_t>(sizeMiB) << 20);
    double mebibytes = static_cast<double>(fs::file_size(installerLog)) / (1 << 20);
    int reps = sizeMiB <= 8 ? 11 : sizeMiB <= 64 ? 7 : 5;
    std::vector<Sample> merges, cats;
    for (int i = -1; i < reps; ++i) {  // the first pair warms the cache and is dropped
      // Each copy starts with no dirty pages waiting, so that neither pays for the other's.
      fs::remove(runLog);
      sync();
      Sample merge = Run({options.mergeDriver});
      if (merge.status != 0) Fail("the merge driver failed");
      if (i == -1) {
        // Every line comes back with CR LF and is followed by an empty line.
        size_t lines = CountLines(ReadFile(installerLog));
        if (fs::file_size(runLog) != fs::file_size(installerLog) + 2 * lines) {
          Fail("the merged run log does not have the expected size");
        }
      }
      fs::remove(catOutput);
      sync();
      Sample cat = Run({"cat", installerLog.string()}, catOutput.c_str());
      if (cat.status != 0) Fail("cat failed");
      if (i >= 0) {
        merges.push_back(merge);
        cats.push_back(cat);
      }
    }
    double mergeMs = MedianOf(merges, &Sample::wallMs);
    double catMs = MedianOf(cats, &Sample::wallMs);
    double mergeRate = mebibytes / (mergeMs / 1e3);
    double catRate = mebibytes / (catMs / 1e3);
    mergePerMiB.push_back(mergeMs / mebibytes);
    catPerMiB.push_back(catMs / mebibytes);
    PrintRow("2. merge throughput, " + std::to_string(sizeMiB) +
                 " MiB installer log vs cat (median of " + std::to_string(reps) + ")",
             Format("%.0f MiB/s", mergeRate), Format("%.0f MiB/s", catRate), mergeRate / catRate,
             ">= 0.5", mergeRate / catRate >= 0.5);
  }
  fs::remove(runLog);
  fs::remove(catOutput);
  fs::remove(installerLog);
  // Time per MiB at the largest size over that at the smallest, for the merge and for cat: the
  // page cache of a shared machine is not linear even for cat, so the merge's growth is judged
  // against cat's own.
  if (mergePerMiB.size() >= 2) {
    double mergeGrowth = mergePerMiB.back() / mergePerMiB.front();
    double catGrowth = catPerMiB.back() / catPerMiB.front();
    PrintRow("2. merge linearity: time per MiB at " + std::to_string(options.mergeSizesMiB.back()) +
                 " MiB over that at " + std::to_string(options.mergeSizesMiB.front()) + " MiB",
             Format("x%.2f", mergeGrowth), Format("x%.2f", catGrowth), mergeGrowth / catGrowth,
             "<= 1.3", mergeGrowth / catGrowth <= 1.3);
  }
}

// Row 5: the Windows build under wine, against a trivial Windows program under the same wine.
// The prefix is made and its wineserver kept running by the caller.
void MeasureWine(const Options& options) {
  fs::path prefix = options.winePrefix;
  fs::path drive = prefix / "drive_c";
  fs::create_directories(drive / "bench");
  fs::create_directories(drive / "Qor" / "server");
  CopyProgram(options.wineLauncher, drive / "bench" / "setup.exe");
  CopyProgram(options.wineNoop, drive / "bench" / "noop.exe");
  WriteFile(drive / "bench" / "Installer.ini", InstallerIni("noop.exe"));
  // The launcher reads the 32-bit view, which keeps SOFTWARE under Wow6432Node.
  WriteFile(drive / "bench" / "machine.reg", MachineRegistry("SOFTWARE\\Wow6432Node"));
  setenv("WINEPREFIX", prefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  if (Run({"wine", "regedit", "/S", "C:\\bench\\machine.reg"}).status != 0) {
    Fail("regedit could not import the bench registry");
  }
  fs::remove(drive / "Qor" / "server" / "patchinfo");
  fs::remove(drive / "QOR_Updates_InstallOS.log");
  const int kWarmups = 2;
  std::vector<Sample> launcherRuns, noopRuns;
  Interleave({"wine", "C:\\bench\\setup.exe"}, {"wine", "C:\\bench\\noop.exe"}, kWarmups,
             options.wineRuns, &launcherRuns, &noopRuns);
  RequireAllSucceeded(launcherRuns, "the launcher under wine");
  RequireAllSucceeded(noopRuns, "the no-op program under wine");
  CheckRuns(prefix, static_cast<size_t>(kWarmups + options.wineRuns));
  double launcherMs = MedianOf(launcherRuns, &Sample::wallMs);
  double noopMs = MedianOf(noopRuns, &Sample::wallMs);
  PrintRow("5. under Wine: wall time per run vs a trivial Windows program (median of " +
               std::to_string(options.wineRuns) + " each)",
           Format("%.1f ms", launcherMs), Format("%.1f ms", noopMs), launcherMs / noopMs,
           "- (regression guard)", -1);
}

bool Wants(const Options& options, const char* row) {
  std::string list = "," + options.rows + ",";
  return list.find("," + std::string(row) + ",") != std::string::npos;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    size_t equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) Fail("bad option " + argument);
    std::string name = argument.substr(2, equals - 2);
    std::string value = argument.substr(equals + 1);
    if (name == "launcher")
      options.launcher = value;
    else if (name == "noop")
      options.noop = value;
    else if (name == "sleeper")
      options.sleeper = value;
    else if (name == "spawner")
      options.spawner = value;
    else if (name == "merge-driver")
      options.mergeDriver = value;
    else if (name == "probe")
      options.probe = value;
    else if (name == "work")
      options.work = value;
    else if (name == "runs")
      options.runs = std::stoi(value);
    else if (name == "sleep-runs")
      options.sleepRuns = std::stoi(value);
    else if (name == "wine-prefix")
      options.winePrefix = value;
    else if (name == "wine-launcher")
      options.wineLauncher = value;
    else if (name == "wine-noop")
      options.wineNoop = value;
    else if (name == "wine-runs")
      options.wineRuns = std::stoi(value);
    else if (name == "rows")
      options.rows = value;
    else if (name == "merge-sizes") {
      options.mergeSizesMiB.clear();
      std::stringstream list(value);
      for (std::string size; std::getline(list, size, ',');) {
        options.mergeSizesMiB.push_back(std::stoi(size));
      }
    } else {
      Fail("unknown option " + argument);
    }
  }
  if (options.launcher.empty() || options.noop.empty() || options.sleeper.empty() ||
      options.spawner.empty() || options.mergeDriver.empty() || options.probe.empty() ||
      options.work.empty()) {
    Fail(
        "--launcher, --noop, --sleeper, --spawner, --merge-driver, --probe and --work are "
        "required");
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  probe = options.probe;
  fs::create_directories(options.work);
  if (Wants(options, "overhead")) MeasureOverhead(options);
  if (Wants(options, "merge")) MeasureMerge(options);
  if (Wants(options, "wait")) MeasureWaiting(options);
  bool wineGiven =
      !options.winePrefix.empty() && !options.wineLauncher.empty() && !options.wineNoop.empty();
  if (Wants(options, "wine") && wineGiven) MeasureWine(options);
  return 0;
}
