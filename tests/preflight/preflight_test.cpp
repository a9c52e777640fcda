// The preflight end to end, from one row list on every leg: its exit status, its JSON report read
// by a real JSON parser, its usage errors, and that no file and no registry value changed. On the
// Windows legs each JSON row also runs on the Linux build, whose report must be the same apart from
// the free space and the installer activity, which the Linux port does not check.
//
//   preflight_test --leg=linux --launcher=PATH --preflight=PATH [--wrapper="valgrind ..."]
//   preflight_test --leg=wine|wow64|win32 --launcher=EXE --preflight=EXE
//                  [--linux-launcher=PATH --linux-preflight=PATH]
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/harness.h"

namespace {

using Json = nlohmann::json;

HarnessOptions options;
HarnessOptions linuxOptions;  // the Linux build, for the comparison on a Windows leg
std::unique_ptr<Leg> leg;
std::unique_ptr<Leg> linuxLeg;

const std::string kCbsMarker =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based "
    "Servicing\\RebootPending";
const std::string kUpdateMarker =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto "
    "Update\\RebootRequired";
const std::string kSessionManager =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n";
// Every row starts with no reboot marker set.
const std::string kNoMarkers = "[-" + kCbsMarker + "]\r\n[-" + kUpdateMarker + "]\r\n" +
                               kSessionManager + "\"PendingFileRenameOperations\"=-\r\n";

const std::string kInstalled =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=dword:00000001\r\n";
// The patch-info file is then drive_c/Srv/server/patchinfo.
const std::string kProgramPath =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n\"ProgramPath\"=\"C:\\\\Srv\"\r\n";

std::string Ini(const std::string& patchId = "KB1", const std::string& expected = "1") {
  return "[MicrosoftPatch]\r\nAppName=kb1.exe\r\nDaziveID=" + patchId +
         "\r\nMicrosoftRegKey=SOFTWARE\\ExampleHotfix\r\nRegKeyName=Installed\r\nRegKeyValue=" +
         expected + "\r\nRunParams=/quiet\r\n";
}

enum class Installer { kProgram, kNone, kFolder, kNotExecutable };

struct Row {
  const char* name;
  int status;
  std::vector<std::pair<std::string, Json>> expect;  // JSON pointer, value
  std::string ini = Ini();
  std::string registry;        // the launcher's view
  std::string systemRegistry;  // the system view
  Installer installer = Installer::kProgram;
  std::vector<std::string> args = {"--json", "{BUNDLE}"};
  bool besideLauncher = false;
  std::vector<std::string> otherPrograms;  // more program files in the launcher's folder, no
                                           // extension (Windows legs add ".exe")
  std::string patchInfo;                   // drive_c/Srv/server/patchinfo's bytes, when given
  std::vector<std::pair<std::string, std::string>> links;  // below the root: path, target
  std::string text;   // the standard output of a run without --json holds this
  std::string error;  // a usage error's one line holds this
  bool linuxOnly = false;
};

// Names a row in test reports, instead of its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::vector<Row> Rows() {
  const Json none = Json::array();
  const Json missingRecord = {{{"who", "N/A "},
                               {"where", "C:\\hotfix\\kb1\\"},
                               {"what", "setup"},
                               {"message", "AppName is missing from ini file."}}};
  return {
      {.name = "ready",
       .status = 0,
       .expect = {{"/verdict", "ready"},
                  {"/settings/loaded", true},
                  {"/settings/values/RunParams", "/quiet"},
                  {"/installer/path", "C:\\hotfix\\kb1\\kb1.exe"},
                  {"/installer/file", "regular file"},
                  {"/installer/arguments", "/norestart /log:\"c:\\tmp.log\" /quiet "},
                  {"/installer/arguments_length", 36},
                  {"/check/installed", false},
                  {"/check/records/0/message", "Failed RegOpenKeyEx"},
                  {"/check/records/1/message", "SOFTWARE\\ExampleHotfix"},
                  {"/patch_info/access", "not used"},
                  {"/reboot_pending/pending", false}}},
      {.name = "ready_with_tail_beside_launcher",
       .status = 0,
       .expect = {{"/installer/arguments", "/norestart /log:\"c:\\tmp.log\" /quiet /x \"a b\""},
                  {"/launcher/directory", "C:\\hotfix\\kb1\\"}},
       .args = {"--json", "--", "/x", "a b"},
       .besideLauncher = true},
      {.name = "installed",
       .status = 2,
       .expect = {{"/verdict", "already installed"},
                  {"/check/installed", true},
                  {"/check/records", none},
                  {"/patch_info/holds_patch_id", nullptr}},
       .registry = kInstalled},
      // Status 2 only when the id is recorded: otherwise the launcher's run would record it.
      {.name = "installed_and_recorded",
       .status = 2,
       .expect = {{"/patch_info/holds_patch_id", true}, {"/patch_info/access", "opens"}},
       .registry = kInstalled + kProgramPath,
       .patchInfo = "KB0\r\nKB1\r\n"},
      {.name = "installed_not_recorded",
       .status = 0,
       .expect = {{"/verdict", "ready"},
                  {"/check/installed", true},
                  {"/patch_info/holds_patch_id", false}},
       .registry = kInstalled + kProgramPath,
       .installer = Installer::kNone,
       .patchInfo = "KB10\r\nKB\r\n KB1\r\nKB1 \r\nxKB1"},
      {.name = "installed_patch_info_missing",
       .status = 0,
       .expect = {{"/patch_info/holds_patch_id", nullptr},
                  {"/patch_info/access", "cannot be opened"}},
       .registry = kInstalled + kProgramPath},
      {.name = "text_installed_not_recorded",
       .status = 0,
       .registry = kInstalled + kProgramPath,
       .args = {"{BUNDLE}"},
       .patchInfo = "KB0\r\n",
       .text = "check: installed; the launcher would record the id"},
      // Folders on the way are resolved inside the prefix; a link at the end stays in view.
      {.name = "host_paths_resolve_folders",
       .status = 0,
       .expect = {{"/patch_info/host_path", "{ROOT}/drive_c/hotfix/Srv/server/patchinfo"},
                  {"/run_log/host_path", "{ROOT}/drive_c/QOR_Updates_InstallOS.log"},
                  {"/run_log/access", "cannot be opened"}},
       .registry = kProgramPath,
       .patchInfo = "KB0\r\n",
       .links = {{"drive_c/Srv", "hotfix/Srv"}, {"drive_c/QOR_Updates_InstallOS.log", "/elsewhere"}},
       .linuxOnly = true},
      {.name = "installed_installer_missing_reboot_pending",
       .status = 2,
       .expect = {{"/installer/file", "missing"}, {"/reboot_pending/pending", true}},
       .registry = kInstalled,
       .systemRegistry = "[" + kCbsMarker + "]\r\n",
       .installer = Installer::kNone},
      {.name = "settings_missing",
       .status = 1,
       .expect = {{"/verdict", "cannot run"},
                  {"/settings/loaded", false},
                  {"/settings/values/AppName", ""},
                  {"/settings/records", missingRecord},
                  {"/installer", nullptr},
                  {"/check", nullptr}},
       .ini = "",
       .installer = Installer::kNone},
      {.name = "value_too_long",
       .status = 1,
       .expect = {{"/settings/records/0/message", "RegKeyValue is too long in ini file."},
                  {"/settings/values/RegKeyValue", std::string(60, '1')}},
       .ini = Ini("KB1", std::string(60, '1'))},
      {.name = "arguments_too_long",
       .status = 1,
       .expect = {{"/installer/arguments_fit", false},
                  {"/installer/command_line", nullptr},
                  {"/installer/records/0/message", "Installer arguments are too long."}},
       .args = {"--json", "{BUNDLE}", "--", std::string(70, 'a')}},
      {.name = "installer_missing",
       .status = 1,
       .expect = {{"/installer/file", "missing"}},
       .installer = Installer::kNone},
      {.name = "installer_is_a_folder",
       .status = 1,
       .expect = {{"/installer/file", "not a regular file"}},
       .installer = Installer::kFolder},
      {.name = "installer_not_executable",
       .status = 1,
       .expect = {{"/installer/file", "not executable"}},
       .installer = Installer::kNotExecutable,
       .linuxOnly = true},
      {.name = "reboot_pending_key",
       .status = 3,
       .expect = {{"/verdict", "reboot pending"}, {"/reboot_pending/reboot_pending_key", true}},
       .systemRegistry = "[" + kCbsMarker + "]\r\n"},
      {.name = "reboot_required_key",
       .status = 3,
       .expect = {{"/reboot_pending/reboot_required_key", true},
                  {"/reboot_pending/reboot_pending_key", false}},
       .systemRegistry = "[" + kUpdateMarker + "]\r\n"},
      {.name = "pending_file_renames",
       .status = 3,
       .expect = {{"/reboot_pending/pending_file_rename_operations", true}},
       .systemRegistry =
           kSessionManager + "\"PendingFileRenameOperations\"=hex(7):5c,00,00,00,00,00\r\n"},
      {.name = "patch_info_cannot_be_opened",
       .status = 0,
       .expect = {{"/patch_info/path", "C:\\Srv\\server\\patchinfo"},
                  {"/patch_info/access", "cannot be opened"},
                  {"/patch_info/records/0/message", "Failed to open PatchInfo file"},
                  {"/patch_info/records/1/message", "C:\\Srv\\server\\patchinfo"}},
       .registry =
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n\"ProgramPath\"=\"C:\\\\Srv\"\r\n"},
      // Bytes above 127 are code page 1252 text: the report holds them as UTF-8.
      {.name = "code_page_text",
       .status = 0,
       .expect = {{"/settings/values/DaziveID", "KB\u20AC\u00E9\u0081"}},
       .ini = Ini("KB\x80\xE9\x81")},
      {.name = "text_report",
       .status = 3,
       .systemRegistry = "[" + kCbsMarker + "]\r\n",
       .args = {"{BUNDLE}"},
       .text = "status 3 (reboot pending): reboot this host first"},
      {.name = "help", .status = 0, .args = {"--help"}, .text = "usage: hotfix-preflight [--json]"},
      {.name = "usage_unknown_option", .status = 64, .args = {"--jsn"}, .error = "--jsn"},
      {.name = "usage_no_folder",
       .status = 64,
       .args = {"{BUNDLE}\\missing"},
       .error = "no such folder"},
      {.name = "usage_two_launchers",
       .status = 64,
       .args = {"{BUNDLE}"},
       .otherPrograms = {"other"},
       .error = "setup"},
  };
}

// Every entry below the leg's drives (and the Linux registry file): its kind, size and times.
std::map<std::string, std::string> SnapshotFiles(const Leg& on) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(on.Root())) {
    std::string relative = fs::relative(entry.path(), on.Root()).string();
    if (relative.rfind("drive_", 0) != 0 && relative != "HKLM.reg") continue;
    struct stat status;
    if (lstat(entry.path().c_str(), &status) != 0) continue;
    entries[relative] = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) +
                        " " + std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec);
  }
  return entries;
}

void Prepare(Leg& on, const HarnessOptions& with, const Row& row) {
  on.Reset();
  fs::path folder = on.LauncherFolder();
  fs::copy_file(with.launcher, folder / on.LauncherFileName());
  if (!row.ini.empty()) WriteFile(folder / "Installer.ini", row.ini);
  // The preflight only looks at the installer: any file of the right kind will do.
  if (row.installer == Installer::kFolder) fs::create_directories(folder / "kb1.exe");
  if (row.installer == Installer::kProgram || row.installer == Installer::kNotExecutable) {
    WriteFile(folder / "kb1.exe", "#!/bin/sh\n");
    fs::permissions(folder / "kb1.exe", row.installer == Installer::kProgram
                                            ? fs::perms::owner_all
                                            : fs::perms::owner_read);
  }
  for (const std::string& name : row.otherPrograms) {
    fs::path file = folder / (on.IsWine() ? name + ".exe" : name);
    WriteFile(file, "#!/bin/sh\n");
    fs::permissions(file, fs::perms::owner_all);
  }
  if (!row.patchInfo.empty()) {
    fs::path real = on.Root() / (row.links.empty() ? "drive_c/Srv" : "drive_c/hotfix/Srv");
    WriteFile(real / "server/patchinfo", row.patchInfo);
  }
  for (const auto& [path, target] : row.links) fs::create_symlink(target, on.Root() / path);
  on.WriteRegistry(row.registry, kNoMarkers + row.systemRegistry);
  on.PlacePreflight(row.besideLauncher);
}

// Names what differs between two snapshots, rather than printing them whole.
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

// The export's lines, each under its section and with how often it occurs there, for Differences.
// On wine the pending file renames are left out: its server's next start carries them out.
std::map<std::string, std::string> ExportLines(const std::string& exported, bool wine) {
  std::map<std::string, std::string> lines;
  std::istringstream in(exported);
  std::string section;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind('[', 0) == 0) section = line;
    if (wine && line.rfind("\"PendingFileRenameOperations\"", 0) == 0) continue;
    lines[section + " " + line] += "+";
  }
  return lines;
}

std::vector<std::string> Arguments(const Leg& on, const Row& row) {
  std::vector<std::string> args;
  for (std::string arg : row.args) {
    size_t at = arg.find("{BUNDLE}");
    if (at != std::string::npos) {
      arg.replace(at, 8, on.BundleArgument());
      if (!on.IsWine()) std::replace(arg.begin(), arg.end(), '\\', '/');
    }
    args.push_back(arg);
  }
  return args;
}

// Runs the row's preflight on a prepared leg; returns its parsed JSON report, or null.
Json RunJson(Leg& on, const Row& row, int* status, std::string* output, std::string* errors) {
  *status = on.RunPreflight(Arguments(on, row), row.besideLauncher, output, errors);
  return row.args[0] == "--json" ? Json::parse(*output, nullptr, false) : Json();
}

// Each Windows path of the report has its host path beside it, null with it: the path itself on
// Windows, a path in one of the prefix's drives on Linux.
void ExpectHostPaths(const Leg& on, const Json& report) {
  const std::string drives = fs::canonical(on.Root()).string() + "/drive_";
  for (const auto& [object, key] : {std::pair{"launcher", "directory"},
                                    {"settings", "file"},
                                    {"installer", "path"},
                                    {"patch_info", "path"},
                                    {"run_log", "path"},
                                    {"installer_log", "path"}}) {
    if (!report[object].is_object()) continue;
    const Json& path = report[object][key];
    const Json& host = report[object]["host_path"];
    if (path.is_null() || on.IsWine()) {
      EXPECT_EQ(host, path) << object;
    } else {
      EXPECT_EQ(host.get<std::string>().rfind(drives, 0), 0u) << object << ": " << host;
    }
  }
}

// Leaves out what differs between the builds by design: the host paths.
void EraseHostPaths(Json* report) {
  for (auto& [key, value] : report->items()) {
    if (value.is_object()) value.erase("host_path");
  }
}

class PreflightRows : public ::testing::TestWithParam<Row> {};

TEST_P(PreflightRows, StatusReportAndNothingChanged) {
  const Row& row = GetParam();
  if (row.linuxOnly && leg->IsWine()) GTEST_SKIP() << "Windows files have no execute permission";
  Prepare(*leg, options, row);
  std::map<std::string, std::string> filesBefore = SnapshotFiles(*leg);
  // Taken in the server session the preflight runs in: a new one would boot, and wine's boot, as
  // Windows' does, carries out and removes the pending file renames.
  std::string registryBefore = leg->ExportRegistry();

  int status = 0;
  std::string output;
  std::string errors;
  Json report = RunJson(*leg, row, &status, &output, &errors);
  EXPECT_EQ(status, row.status) << output << errors;
  if (row.status == 64) {
    EXPECT_EQ(output, "");
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find(row.error), std::string::npos) << errors;
  } else if (row.args[0] == "--json") {
    ASSERT_FALSE(report.is_discarded()) << output;
    EXPECT_EQ(report["status"], row.status);
    for (const auto& [pointer, value] : row.expect) {
      Json::json_pointer at(pointer);
      ASSERT_TRUE(report.contains(at)) << pointer << " in\n" << output;
      Json expected = value;
      if (value.is_string() && value.get<std::string>().rfind("{ROOT}", 0) == 0) {
        expected = fs::canonical(leg->Root()).string() + value.get<std::string>().substr(6);
      }
      EXPECT_EQ(report[at], expected) << pointer;
    }
    ExpectHostPaths(*leg, report);
  } else {
    EXPECT_NE(output.find(row.text), std::string::npos) << output;
  }
  leg->WaitForEnd();
  EXPECT_EQ(Differences(filesBefore, SnapshotFiles(*leg)), "");
  EXPECT_EQ(Differences(ExportLines(registryBefore, leg->IsWine()),
                        ExportLines(leg->ExportRegistry(), leg->IsWine())),
            "");

  if (linuxLeg != nullptr && row.args[0] == "--json" && row.status != 64) {
    Prepare(*linuxLeg, linuxOptions, row);
    std::string linuxOutput;
    Json linuxReport = RunJson(*linuxLeg, row, &status, &linuxOutput, &errors);
    for (Json* each : {&report, &linuxReport}) {
      each->erase("free_space_bytes");
      each->erase("installation_in_progress");
      EraseHostPaths(each);
    }
    EXPECT_EQ(linuxReport, report) << "Linux:\n" << linuxOutput << "\nWindows:\n" << output;
  }
}

INSTANTIATE_TEST_SUITE_P(All, PreflightRows, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  options = ParseHarnessOptions(argc, argv);
  options.persistentServer = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--linux-launcher=", 0) == 0) linuxOptions.launcher = arg.substr(17);
    if (arg.rfind("--linux-preflight=", 0) == 0) linuxOptions.preflight = arg.substr(18);
  }
  leg = MakeLeg(options, "drive_c/hotfix/kb1");
  if (leg == nullptr || options.preflight.empty()) {
    fprintf(stderr, "usage: preflight_test --leg=L --launcher=P --preflight=P [--linux-...=P]\n");
    return 2;
  }
  if (leg->IsWine()) {
    // A new prefix registers its drives and network cards at its next boots: let that happen
    // before any row compares the registry across one.
    for (int boot = 0; boot < 2; ++boot) {
      leg->WaitForEnd();
      leg->ExportRegistry();
    }
  }
  if (leg->IsWine() && !linuxOptions.preflight.empty()) {
    linuxOptions.leg = "linux";
    linuxLeg = MakeLeg(linuxOptions, "drive_c/hotfix/kb1");
  }
  int result = RUN_ALL_TESTS();
  linuxLeg.reset();
  leg.reset();
  return result;
}
