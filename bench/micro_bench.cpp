// The launcher's in-process pieces under Google Benchmark, each next to a trivial operation on the
// same bytes measured in the same run (repetitions randomly interleaved). Prints one tab-separated
// row per pair: what, the piece's median time per operation, the trivial one's, their ratio, "-".
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "runlog/runlog.h"

namespace {

namespace fs = std::filesystem;

fs::path prefix;  // a temporary HOTFIX_LAUNCHER_PREFIX, removed at the end

constexpr char kWho[] = "KB5001234";
constexpr char kWhere[] = "c:\\hotfix\\KB5001234\\";
constexpr char kWhat[] = "setup";
constexpr char kMessage[] = "Value in Registry is not the 1 value";
constexpr char kIniPath[] = "c:\\Installer.ini";
constexpr int kIniLines = 1000;
constexpr int kRegistryKeys = 10000;

void WriteFile(const fs::path& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

// 1,000 lines: filler sections and keys, then the settings section with the wanted key last, so
// that the lookup passes every line.
std::string MakeIni() {
  std::string text;
  int lines = 0;
  for (int section = 0; lines < kIniLines - 8; ++section) {
    text += "[Component" + std::to_string(section) + "]\r\n";
    ++lines;
    for (int key = 0; key < 20 && lines < kIniLines - 8; ++key, ++lines) {
      text += "Setting" + std::to_string(key) + "=C:\\Program Files\\Vendor\\component" +
              std::to_string(section) + "\\file" + std::to_string(key) + ".dat\r\n";
    }
  }
  text +=
      "[MicrosoftPatch]\r\nAppName=KB5001234.exe\r\nDaziveID=KB5001234\r\n"
      "MicrosoftRegKey=SOFTWARE\\ExampleHotfix\r\nRegKeyName=Installed\r\nRegKeyValue=1\r\n"
      "Comment=bench\r\nRunParams=/quiet /mark\r\n";
  return text;
}

// 10,000 keys of a few values each; the wanted key is the last one.
std::string MakeRegistry() {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int key = 0; key < kRegistryKeys; ++key) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\Key" + std::to_string(key) + "]\r\n";
    text += "\"Path\"=\"C:\\\\Program Files\\\\Vendor\\\\" + std::to_string(key) + "\"\r\n";
    text += "\"Installed\"=dword:00000001\r\n\r\n";
  }
  return text;
}

std::string MakeCommandLine() {
  std::string line = "\"C:\\hotfix\\KB5001234\\KB5001234.exe\" /norestart /log:\"c:\\tmp.log\"";
  for (int i = 0; line.size() < 1000; ++i) {
    line += i % 3 == 0   ? " /quiet"
            : i % 3 == 1 ? " \"C:\\Program Files\\Vendor\\dir" + std::to_string(i) + "\\\""
                         : " say=\\\"hello\\\"";
  }
  line.resize(1000);
  return line;
}

std::string Mapped(const char* drivePath) { return (prefix / "drive_c" / drivePath).string(); }

// The bytes of one record with its CR LF, as the run log holds it.
std::string RecordBytes() {
  LocalTime now;
  ReadLocalTime(&now);
  char stamp[80];
  FormatTimeStamp(now, stamp, sizeof stamp);
  return std::string(stamp) + kWho + ", " + kWhere + " " + kWhat + " " + kMessage + "\r\n";
}

std::vector<unsigned char> ReadWhole(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat status;
  fstat(fd, &status);
  std::vector<unsigned char> bytes(static_cast<size_t>(status.st_size));
  ssize_t got = read(fd, bytes.data(), bytes.size());
  close(fd);
  if (got != static_cast<ssize_t>(bytes.size())) bytes.clear();
  return bytes;
}

// The record: open the run log for appending, format, write, close.
void BM_WriteLogRecord(benchmark::State& state) {
  for (auto _ : state) WriteLogRecord(kWho, kWhere, kWhat, kMessage);
  fs::remove(prefix / "drive_c" / "QOR_Updates_InstallOS.log");
}

void BM_WriteLogRecord_Baseline(benchmark::State& state) {
  std::string bytes = RecordBytes();
  std::string path = Mapped("baseline.log");
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "ab");
    fputs(bytes.c_str(), file);
    fclose(file);
  }
  fs::remove(path);
}

void BM_ReadProfileString(benchmark::State& state) {
  char value[260];
  for (auto _ : state) {
    ReadProfileString("MicrosoftPatch", "RunParams", value, sizeof value, kIniPath);
    benchmark::DoNotOptimize(value);
  }
  if (strcmp(value, "/quiet /mark") != 0) state.SkipWithError("wrong value read");
}

// Reads the same file whole and passes over its lines with memchr.
void BM_ReadProfileString_Baseline(benchmark::State& state) {
  std::string path = Mapped("Installer.ini");
  for (auto _ : state) {
    std::vector<unsigned char> bytes = ReadWhole(path.c_str());
    size_t lines = 0;
    const unsigned char* at = bytes.data();
    const unsigned char* end = at + bytes.size();
    while (const void* newline = memchr(at, '\n', static_cast<size_t>(end - at))) {
      at = static_cast<const unsigned char*>(newline) + 1;
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
  }
}

void BM_RegistryValue(benchmark::State& state) {
  std::string wanted = "SOFTWARE\\Vendor\\Product\\Key" + std::to_string(kRegistryKeys - 1);
  uint32_t value = 0;
  for (auto _ : state) {
    RegistryKey* key = OpenMachineKey(wanted.c_str(), RegistryView::kLauncher);
    uint32_t type = 0;
    uint32_t size = sizeof value;
    if (key == nullptr || !QueryRegistryValue(key, "Installed", &type,
                                              reinterpret_cast<unsigned char*>(&value), &size)) {
      state.SkipWithError("the value was not read");
    }
    CloseRegistryKey(key);
  }
  if (value != 1) state.SkipWithError("wrong value read");
}

void BM_RegistryValue_Baseline(benchmark::State& state) {
  std::string path = (prefix / "HKLM.reg").string();
  for (auto _ : state) benchmark::DoNotOptimize(ReadWhole(path.c_str()));
}

void BM_SplitCommandLine(benchmark::State& state) {
  std::string line = MakeCommandLine();
  std::vector<char*> arguments(line.size() / 2 + 2);
  std::vector<char> text(line.size() + 1);
  for (auto _ : state) {
    int count = SplitCommandLine(line.c_str(), arguments.data(), arguments.size(), text.data(),
                                 text.size());
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
}

void BM_SplitCommandLine_Baseline(benchmark::State& state) {
  std::string line = MakeCommandLine();
  std::vector<char> text(line.size() + 1);
  for (auto _ : state) {
    const char* from = line.c_str();
    benchmark::DoNotOptimize(from);
    size_t length = strlen(from);
    memcpy(text.data(), from, length + 1);
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_WriteLogRecord);
BENCHMARK(BM_WriteLogRecord_Baseline);
BENCHMARK(BM_ReadProfileString);
BENCHMARK(BM_ReadProfileString_Baseline);
BENCHMARK(BM_RegistryValue);
BENCHMARK(BM_RegistryValue_Baseline);
BENCHMARK(BM_SplitCommandLine);
BENCHMARK(BM_SplitCommandLine_Baseline);

// Keeps the median of every benchmark's repetitions, in nanoseconds of real time per operation.
class MedianCollector : public benchmark::BenchmarkReporter {
 public:
  std::map<std::string, double> medianNs;
  bool failed = false;

  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) {
        fprintf(stderr, "micro_bench: %s: %s\n", run.benchmark_name().c_str(),
                run.error_message.c_str());
        failed = true;
      }
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      double ns = run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      medianNs[run.run_name.function_name] = ns;
    }
  }
};

std::string FormatNs(double ns) {
  char text[64];
  if (ns >= 1e6) {
    snprintf(text, sizeof text, "%.3f ms", ns / 1e6);
  } else if (ns >= 1e3) {
    snprintf(text, sizeof text, "%.2f us", ns / 1e3);
  } else {
    snprintf(text, sizeof text, "%.1f ns", ns);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/hotfix-micro-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  prefix = pattern;
  fs::create_directories(prefix / "drive_c");
  WriteFile(prefix / "drive_c" / "Installer.ini", MakeIni());
  WriteFile(prefix / "HKLM.reg", MakeRegistry());
  setenv("HOTFIX_LAUNCHER_PREFIX", prefix.c_str(), 1);

  // Repetitions in random order, so that a noisy stretch of the machine hits both of a pair.
  std::vector<char*> arguments(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=10";
  char interleaving[] = "--benchmark_enable_random_interleaving=true";
  char minimumTime[] = "--benchmark_min_time=0.1";
  arguments.insert(arguments.begin() + 1, {repetitions, interleaving, minimumTime});
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
  MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  fs::remove_all(prefix);

  const struct {
    const char* name;
    const char* what;
  } kPairs[] = {
      {"BM_WriteLogRecord", "6. WriteLogRecord, one record (vs fopen/fputs/fclose of its bytes)"},
      {"BM_ReadProfileString",
       "6. ReadProfileString, last key of a 1,000-line Installer.ini (vs read whole + memchr "
       "line scan)"},
      {"BM_RegistryValue",
       "6. OpenMachineKey+QueryRegistryValue+CloseRegistryKey, last of 10,000 keys in HKLM.reg "
       "(vs read the file whole)"},
      {"BM_SplitCommandLine",
       "6. SplitCommandLine of a 1,000-character command line (vs strlen+memcpy)"},
  };
  for (const auto& pair : kPairs) {
    auto piece = collector.medianNs.find(pair.name);
    auto baseline = collector.medianNs.find(std::string(pair.name) + "_Baseline");
    if (piece == collector.medianNs.end() || baseline == collector.medianNs.end()) continue;
    printf("%s\t%s\t%s\t%.3f\t-\n", pair.what, FormatNs(piece->second).c_str(),
           FormatNs(baseline->second).c_str(), piece->second / baseline->second);
  }
  return collector.failed ? 1 : 0;
}
