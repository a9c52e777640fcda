// The preflight's own rows, from one list on every leg: what the end-to-end scenarios, which check
// its prediction against the launcher, do not show. Its JSON report read by a real JSON parser,
// its text report, its usage errors and its exit statuses for outputs it cannot write, and that it
// changes nothing. On the Windows legs each JSON row also runs on the Linux build, whose report
// must be the same apart from what differs by design (host paths, system texts, free space, the
// installer activity the Linux port does not check).
//
//   preflight_test --leg=linux --launcher=PATH --preflight=PATH --installer=PATH [--wrapper="..."]
//   preflight_test --leg=wine|wow64|win32 --launcher=EXE --preflight=EXE --installer=EXE
//                  --reporter=EXE [--linux-launcher=PATH --linux-preflight=PATH
//                  --linux-installer=PATH]
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "e2e/harness.h"
#include "e2e/prediction.h"

namespace {

using Json = nlohmann::json;

HarnessOptions options;
HarnessOptions linuxOptions;  // the Linux build, for the comparison on a Windows leg
std::unique_ptr<Leg> leg;
std::unique_ptr<Leg> linuxLeg;

const std::string kSessionManager =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n";
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

struct Row {
  const char* name;
  int status;
  std::vector<std::pair<std::string, Json>> expect;  // JSON pointer, value
  std::string ini = Ini();
  std::string registry;          // the launcher's view
  std::string systemRegistry;    // the system view
  bool installerFolder = false;  // the installer is a folder
  std::vector<std::string> args = {"--json", "{BUNDLE}"};
  bool besideLauncher = false;
  bool secondLauncher = false;  // a copy of the launcher named "other" in its folder
  std::string patchInfo;        // drive_c/Srv/server/patchinfo's bytes, when given
  std::vector<std::pair<std::string, std::string>> links;  // below the root: path, target
  std::string text;         // the standard output of a run without --json holds this
  std::string error;        // a usage error's one line holds this
  bool fullOutput = false;  // the standard output cannot be written
  bool asNobody = false;    // Linux: the preflight runs as nobody and HKLM.reg is root's alone
  bool linuxOnly = false;
  // Staging: below the root ("" for the folder the Linux prefix lies in), each path's mode, and
  // the paths that the user nobody owns.
  std::vector<std::pair<std::string, fs::perms>> modes;
  std::vector<std::string> nobodyOwns;
  std::string secondName;                // below the root: a second name of the installer
  std::vector<std::string> bundleFiles;  // more files in the bundle, by name
  // drive_c/hotfix/SHA256SUMS ("{SUMS}" in the arguments) lists these names of the bundle with
  // their SHA-256 ("{LAUNCHER}" is the launcher's), "!name" with a wrong one, "*name" in binary
  // mode, each line ended by `sumsLineEnd`; or it holds `sumsBytes` as they are.
  std::vector<std::string> sums;
  std::string sumsLineEnd = "\n";
  std::string sumsBytes;
  std::string input;  // --state: the settings on the standard input
  // The installer's bytes instead of the example installer's, or "{EXAMPLE:<change>}" for the
  // example installer changed (see ExampleChanged); programs below the root (path, bytes, made
  // executable); in both, {ROOT} is the root's host path.
  std::string installerBytes;
  std::vector<std::pair<std::string, std::string>> programs;
  int fileLimit = 0;     // Linux: the preflight and the launcher start with so many descriptors
  std::string heldOpen;  // Windows: a file held open, shared with readers only, while each runs
  bool windowsOnly = false;
  bool kernelDecides = false;     // the status is 0 when this kernel runs the installer, else 1
  bool execFails = false;         // the launcher's start fails, which valgrind does not survive
  bool notUnderValgrind = false;  // the preflight's own probes or descriptors do not survive it
  // When given, the launcher runs after the preflight, with the same tail and conditions, and
  // must end with this status (the low 8 bits on Linux) and do what the preflight predicted.
  std::optional<int> launcherStatus;
};

// A static 32-bit program for `machine` whose code follows its ELF header and one program header
// that maps the whole file.
std::string Elf32Program(uint16_t machine, const std::string& code) {
  std::string bytes(84, '\0');
  auto put = [&bytes](size_t at, uint32_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  const uint32_t base = 0x08048000;
  const uint32_t size = static_cast<uint32_t>(84 + code.size());
  bytes.replace(0, 7,
                "\x7f"
                "ELF\x01\x01\x01");
  for (auto [at, value, width] : {std::tuple<size_t, uint32_t, size_t>{16, 2, 2},  // ET_EXEC
                                  {18, machine, 2},
                                  {20, 1, 4},
                                  {24, base + 84, 4},
                                  {28, 52, 4},
                                  {40, 52, 2},
                                  {42, 32, 2},
                                  {44, 1, 2},
                                  {52, 1, 4},  // PT_LOAD
                                  {60, base, 4},
                                  {64, base, 4},
                                  {68, size, 4},
                                  {72, size, 4},
                                  {76, 5, 4},
                                  {80, 0x1000, 4}}) {
    put(at, value, width);
  }
  return bytes + code;
}

// exit(0): i386 by int 0x80, x32 by syscall.
const std::string kI386Program =
    Elf32Program(3, std::string("\xb8\x01\0\0\0\xbb\0\0\0\0\xcd\x80", 12));
const std::string kX32Program =
    Elf32Program(62, std::string("\xb8\x3c\0\0\0\xbf\0\0\0\0\x0f\x05", 12));

// Names a row in test reports, instead of its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::vector<Row> Rows() {
  const Json none = Json::array();
  return {
      {.name = "ready_with_tail_beside_launcher",
       .status = 0,
       .expect = {{"/verdict", "ready"},
                  {"/preflight_version", "{VERSION}"},
                  {"/launcher/directory", "C:\\hotfix\\kb1\\"},
                  {"/launcher/runs_in_drive_folder", true},
                  {"/launcher/version", "{VERSION}"},
                  {"/settings/values/RunParams", "/quiet"},
                  {"/installer/file", "regular file"},
                  {"/installer/start_error_code", nullptr},
                  {"/installer/arguments", "/norestart /log:\"c:\\tmp.log\" /quiet /x \"a b\""},
                  {"/installer/arguments_length", 44},
                  {"/check/installed", false},
                  {"/check/records/1/message", "SOFTWARE\\ExampleHotfix"},
                  {"/run_log/records/1/message",
                   "/norestart /log:\"c:\\tmp.log\" /quiet /x \"a b\""},
                  {"/patch_info/access", "not used"},
                  {"/unknown", none}},
       .args = {"--json", "--", "/x", "a b"},
       .besideLauncher = true},
      // Status 2 only when the id is recorded: otherwise the launcher's run would record it.
      {.name = "installed_and_recorded",
       .status = 2,
       .expect = {{"/verdict", "already installed"},
                  {"/patch_info/holds_patch_id", true},
                  {"/patch_info/access", "opens"}},
       .registry = kInstalled + kProgramPath,
       .patchInfo = "KB0\r\nKB1\r\n"},
      {.name = "installed_not_recorded",
       .status = 0,
       .expect = {{"/check/installed", true},
                  {"/check/records", none},
                  {"/patch_info/holds_patch_id", false}},
       .registry = kInstalled + kProgramPath,
       .patchInfo = "KB10\r\nKB\r\n KB1\r\nKB1 \r\nxKB1"},
      {.name = "text_installed_not_recorded",
       .status = 0,
       .registry = kInstalled + kProgramPath,
       .args = {"{BUNDLE}"},
       .patchInfo = "KB0\r\n",
       .text = "check: installed; the launcher would record the id"},
      {.name = "text_installed_patch_info_cannot_open",
       .status = 0,
       .registry = kInstalled + kProgramPath,
       .args = {"{BUNDLE}"},
       .text = "check: installed; the launcher could not record the id"},
      {.name = "text_no_program_path",
       .status = 0,
       .args = {"{BUNDLE}"},
       .text = "no patch id would be recorded"},
      // Folders on the way are resolved inside the prefix; a link at the end stays in view.
      {.name = "host_paths_resolve_folders",
       .status = 0,
       .expect = {{"/patch_info/host_path", "{ROOT}/drive_c/hotfix/Srv/server/patchinfo"},
                  {"/run_log/host_path", "{ROOT}/drive_c/QOR_Updates_InstallOS.log"},
                  {"/run_log/access", "cannot be opened"}},
       .registry = kProgramPath,
       .patchInfo = "KB0\r\n",
       .links = {{"drive_c/Srv", "hotfix/Srv"},
                 {"drive_c/QOR_Updates_InstallOS.log", "/elsewhere"}},
       .linuxOnly = true},
      {.name = "settings_missing",
       .status = 1,
       .expect = {{"/verdict", "cannot run"},
                  {"/settings/loaded", false},
                  {"/settings/values/AppName", ""},
                  {"/settings/values/DaziveID", nullptr},
                  {"/settings/records/0/message", "AppName is missing from ini file."},
                  {"/installer", nullptr},
                  {"/check", nullptr}},
       .ini = ""},
      // The whole length beside its limit; no command line has no length, and nothing to overflow.
      {.name = "arguments_too_long",
       .status = 1,
       .expect = {{"/installer/arguments_length", 103},
                  {"/installer/arguments_fit", false},
                  {"/installer/command_line", nullptr},
                  {"/installer/command_line_length", nullptr},
                  {"/installer/command_line_fits", true},
                  {"/installer/records/0/message", "Installer arguments are too long."},
                  {"/check", nullptr}},
       .args = {"--json", "{BUNDLE}", "--", std::string(67, 'a')}},
      {.name = "installer_is_a_folder",
       .status = 1,
       .expect = {{"/installer/file", "not a regular file"},
                  {"/installer/records/0/message", "Failed to create process"}},
       .installerFolder = true},
      {.name = "reboot_required_key",
       .status = 3,
       .expect = {{"/verdict", "reboot pending"},
                  {"/reboot_pending/reboot_required_key", true},
                  {"/reboot_pending/reboot_pending_key", false}},
       .systemRegistry = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                         "WindowsUpdate\\Auto Update\\RebootRequired]\r\n"},
      {.name = "pending_file_renames",
       .status = 3,
       .expect = {{"/reboot_pending/pending_file_rename_operations", true}},
       .systemRegistry =
           kSessionManager + "\"PendingFileRenameOperations\"=hex(7):5c,00,00,00,00,00\r\n"},
      // A registry it cannot read decides nothing: the status says it cannot tell, and the report
      // names what it could not read.
      {.name = "registry_unreadable",
       .status = 77,
       .expect = {{"/verdict", "cannot tell"},
                  {"/check/installed", nullptr},
                  {"/reboot_pending/pending", nullptr},
                  {"/reboot_pending/reboot_pending_key", nullptr},
                  {"/unknown/0/item", "check.installed"}},
       .systemRegistry = "[" + kRebootPendingKey + "]\r\n",
       .asNobody = true,
       .linuxOnly = true},
      // Bytes above 127 are code page 1252 text: the report holds them as UTF-8.
      {.name = "code_page_text",
       .status = 0,
       .expect = {{"/settings/values/DaziveID", "KB\u20AC\u00E9\u0081"}},
       .ini = Ini("KB\x80\xE9\x81")},
      {.name = "text_report",
       .status = 3,
       .systemRegistry = "[" + kRebootPendingKey + "]\r\n",
       .args = {"{BUNDLE}"},
       .text = "status 3 (reboot pending): reboot this host first"},
      {.name = "named_launcher",
       .status = 0,
       .expect = {{"/launcher/name", "other"}},
       .args = {"--json", "--launcher", "{OTHER}", "{BUNDLE}"},
       .secondLauncher = true},
      // A program without the build's version: the example installer named as the launcher.
      {.name = "launcher_without_a_version",
       .status = 0,
       .expect = {{"/launcher/name", "kb1"}, {"/launcher/version", nullptr}},
       .args = {"--json", "--launcher", "kb1.exe", "{BUNDLE}"}},
      {.name = "text_launcher_version",
       .status = 0,
       .args = {"{BUNDLE}"},
       .text = "launcher: C:\\hotfix\\kb1\\setup, version {VERSION}"},
      {.name = "help", .status = 0, .args = {"-h"}, .text = "usage: hotfix-preflight [--json]"},
      {.name = "help_unwritable", .status = 74, .args = {"--help"}, .fullOutput = true},
      {.name = "version_unwritable", .status = 74, .args = {"-V"}, .fullOutput = true},
      {.name = "report_unwritable", .status = 74, .args = {"{BUNDLE}"}, .fullOutput = true},
      {.name = "usage_unknown_option", .status = 64, .args = {"--jsn"}, .error = "--jsn"},
      {.name = "usage_no_folder",
       .status = 64,
       .args = {"{BUNDLE}\\missing"},
       .error = "no such folder"},
      {.name = "usage_two_launchers",
       .status = 64,
       .args = {"{BUNDLE}"},
       .secondLauncher = true,
       .error = "--launcher NAME"},
      // Staging: who other than root or the running account can change the bundle, and whether
      // it is the one its SHA256SUMS lists.
      {.name = "staging_sums_match",
       .status = 0,
       .expect = {{"/staging/verdict", "safe"},
                  {"/staging/files", 3},
                  {"/staging/findings", none},
                  {"/staging/unknown", none}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .sums = {"{LAUNCHER}", "kb1.exe", "Installer.ini"}},
      // As sha256sum writes it in binary mode, of "./name", with Windows line ends.
      {.name = "staging_sums_binary_dot_slash_crlf",
       .status = 0,
       .expect = {{"/staging/verdict", "safe"}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .sums = {"./{LAUNCHER}", "*kb1.exe", "*./Installer.ini"},
       .sumsLineEnd = "\r\n"},
      // A name with a backslash and one with a line feed, escaped as sha256sum escapes them.
      {.name = "staging_sums_escaped_names",
       .status = 0,
       .expect = {{"/staging/verdict", "safe"}, {"/staging/files", 5}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .linuxOnly = true,
       .bundleFiles = {"a\\b.dll", "c\nd.dll"},
       .sums = {"{LAUNCHER}", "kb1.exe", "Installer.ini", "a\\b.dll", "c\nd.dll"}},
      // A sums file nobody may read leaves the staging unknown rather than a usage error.
      {.name = "staging_sums_file_unreadable",
       .status = 77,
       .expect = {{"/staging/verdict", "unknown"},
                  {"/staging/unknown/0/host_path", "{ROOT}/drive_c/hotfix/SHA256SUMS"},
                  {"/staging/findings", none}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .asNobody = true,
       .linuxOnly = true,
       .modes = {{"drive_c/hotfix/SHA256SUMS", fs::perms::owner_read | fs::perms::owner_write}},
       .sums = {"{LAUNCHER}", "kb1.exe", "Installer.ini"}},
      {.name = "usage_sums_not_a_list",
       .status = 64,
       .args = {"--sums", "{SUMS}", "{BUNDLE}"},
       .error = "is not a SHA256SUMS list: line 2: a SHA-256 that is not 64 hex digits",
       .sums = {"kb1.exe"},
       .sumsBytes = "\n" + std::string(64, 'g') + "  setup\n"},
      {.name = "usage_sums_name_outside_the_bundle",
       .status = 64,
       .args = {"--sums", "{SUMS}", "{BUNDLE}"},
       .error = "line 1: a name that is not a path inside the bundle's folder",
       .sumsBytes = std::string(64, '0') + "  kb1/../../setup\n"},
      {.name = "staging_sums_mismatch",
       .status = 4,
       .expect = {{"/verdict", "unsafe"},
                  {"/staging/verdict", "unsafe"},
                  {"/staging/findings/0/path", "C:\\hotfix\\kb1\\kb1.exe"},
                  {"/staging/findings/0/who", nullptr},
                  {"/staging/findings/0/how", "its SHA-256 is not the one the sums file lists"}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .sums = {"{LAUNCHER}", "!kb1.exe", "Installer.ini"}},
      {.name = "staging_unlisted_file",
       .status = 4,
       .expect = {{"/staging/findings/0/path", "C:\\hotfix\\kb1\\Installer.ini"},
                  {"/staging/findings/0/how", "not listed in the sums file"}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .sums = {"{LAUNCHER}", "kb1.exe"}},
      {.name = "staging_listed_file_missing",
       .status = 4,
       .expect = {{"/staging/findings/0/path", "C:\\hotfix\\kb1\\kb1.dll"},
                  {"/staging/findings/0/how",
                   "listed in the sums file, but not a regular file of the bundle"}},
       .args = {"--json", "--sums", "{SUMS}", "{BUNDLE}"},
       .sums = {"{LAUNCHER}", "kb1.exe", "Installer.ini", "kb1.dll"}},
      // Under Wine a folder of mode 0777 gives Everyone write, and one of another Unix user
      // another owner.
      {.name = "staging_bundle_folder_world_writable",
       .status = 4,
       .expect = {{"/staging/findings/0/path", "C:\\hotfix\\kb1\\"}},
       .modes = {{"drive_c/hotfix/kb1", fs::perms::all}}},
      {.name = "staging_folder_above_of_another_owner",
       .status = 4,
       .expect = {{"/staging/findings/0/path", "C:\\hotfix\\"}},
       .nobodyOwns = {"drive_c/hotfix"}},
      {.name = "staging_folder_above_the_prefix_of_nobody",
       .status = 4,
       .expect = {{"/staging/findings/0/path", nullptr},
                  {"/staging/findings/0/host_path", "{HOLDER}"},
                  {"/staging/findings/0/who", "user nobody (65534)"}},
       .linuxOnly = true,
       .nobodyOwns = {""}},
      // As /tmp: others may add entries, but not rename or delete root's.
      {.name = "staging_sticky_folder_above_the_prefix",
       .status = 0,
       .expect = {{"/staging/verdict", "safe"}},
       .linuxOnly = true,
       .modes = {{"", fs::perms::all | fs::perms::sticky_bit}}},
      {.name = "staging_group_writable_installer",
       .status = 4,
       .expect = {{"/staging/findings/0/path", "C:\\hotfix\\kb1\\kb1.exe"},
                  {"/staging/findings/0/who", "group root (0)"},
                  {"/staging/findings/0/how", "may change it"}},
       .linuxOnly = true,
       .modes = {{"drive_c/hotfix/kb1/kb1.exe", fs::perms::owner_all | fs::perms::group_all |
                                                    fs::perms::others_read |
                                                    fs::perms::others_exec}}},
      {.name = "staging_set_uid_installer",
       .status = 4,
       .expect = {{"/staging/findings/0/how",
                   "has the set-uid bit: whoever runs it runs as its owner"}},
       .linuxOnly = true,
       .modes = {{"drive_c/hotfix/kb1/kb1.exe", fs::perms::owner_all | fs::perms::set_uid}}},
      {.name = "staging_link_in_the_bundle",
       .status = 4,
       .expect = {{"/staging/findings/0/path", "C:\\hotfix\\kb1\\kb1.dll"},
                  {"/staging/findings/0/how",
                   "a symbolic link, which the check does not follow (to /etc/passwd)"}},
       .links = {{"drive_c/hotfix/kb1/kb1.dll", "/etc/passwd"}},
       .linuxOnly = true},
      {.name = "staging_file_with_a_second_name",
       .status = 4,
       .expect = {{"/staging/findings/0/how", "has a second name, by which others may reach it"}},
       .linuxOnly = true,
       .secondName = "drive_c/kb1.exe"},
      {.name = "text_staging_unsafe",
       .status = 4,
       .args = {"{BUNDLE}"},
       .text = "staging: unsafe: 1 finding (3 files)\n  C:\\hotfix\\kb1\\kb1.exe (",
       .linuxOnly = true,
       .modes = {{"drive_c/hotfix/kb1/kb1.exe", fs::perms::owner_all | fs::perms::others_all}}},
      {.name = "usage_sums_file_missing",
       .status = 64,
       .args = {"--sums", "{ROOT}/SHA256SUMS", "{BUNDLE}"},
       .error = "cannot read the sums file",
       .linuxOnly = true},
      // A host's state without a bundle: the settings on the standard input or in a file.
      {.name = "state_installed_and_recorded",
       .status = 2,
       .expect = {{"/verdict", "installed"},
                  {"/preflight_version", "{VERSION}"},
                  {"/patch_id", "KB1"},
                  {"/settings/file", "-"},
                  {"/settings/loaded", true},
                  {"/state/installed", true},
                  {"/state/recorded", true},
                  {"/state/reboot_pending", false},
                  {"/patch_info/holds_patch_id", true},
                  {"/unknown", none}},
       .registry = kInstalled + kProgramPath,
       .args = {"--json", "--state", "--settings", "-"},
       .patchInfo = "KB0\r\nKB1\r\n",
       .input = Ini()},
      {.name = "state_installed_not_recorded",
       .status = 2,
       .expect = {{"/state/installed", true}, {"/state/recorded", false}},
       .registry = kInstalled + kProgramPath,
       .args = {"--json", "--state", "--settings", "-"},
       .patchInfo = "KB0\r\n",
       .input = Ini()},
      {.name = "state_not_installed_reboot_pending",
       .status = 0,
       .expect = {{"/verdict", "not installed"},
                  {"/state/installed", false},
                  {"/state/recorded", nullptr},
                  {"/state/recorded_reason", "not used: ProgramPath is not in the registry"},
                  {"/state/reboot_pending", true},
                  {"/check/records/0/message", "Failed RegOpenKeyEx"}},
       .systemRegistry = "[" + kRebootPendingKey + "]\r\n",
       .args = {"--json", "--state", "--settings", "-"},
       .input = Ini()},
      {.name = "state_setting_missing",
       .status = 1,
       .expect = {{"/verdict", "settings broken"},
                  {"/settings/loaded", false},
                  {"/settings/records/0/message", "RegKeyName is missing from ini file."},
                  {"/state/installed", nullptr},
                  {"/state/installed_reason", "the settings did not load"},
                  {"/check", nullptr}},
       .args = {"--json", "--state", "--settings", "-"},
       .input = "[MicrosoftPatch]\r\nAppName=kb1.exe\r\nDaziveID=KB1\r\n"
                "MicrosoftRegKey=SOFTWARE\\ExampleHotfix\r\n"},
      {.name = "state_registry_unreadable",
       .status = 77,
       .expect = {{"/verdict", "cannot tell"},
                  {"/state/installed", nullptr},
                  {"/state/reboot_pending", nullptr},
                  {"/unknown/0/item", "check.installed"}},
       .args = {"--json", "--state", "--settings", "-"},
       .asNobody = true,
       .linuxOnly = true,
       .input = Ini()},
      {.name = "text_state_from_a_file",
       .status = 2,
       .registry = kInstalled + kProgramPath,
       .args = {"--state", "--settings", "{INI}"},
       .patchInfo = "KB1\r\n",
       .text = "installed: yes"},
      {.name = "usage_state_without_settings",
       .status = 64,
       .args = {"--state", "--json"},
       .error = "--state needs --settings"},
      {.name = "usage_state_with_a_bundle",
       .status = 64,
       .args = {"--state", "--settings", "-", "{BUNDLE}"},
       .error = "--state takes no BUNDLE_DIR"},
      // What starts, by the kernel's rules, each with the launcher's start beside it: a script
      // whose interpreter is a folder, a text file or a script whose own is missing; scripts nested
      // as deep as the kernel follows them, and one deeper; 32-bit x86 and x32 programs, which an
      // x86-64 kernel runs when it is built for them; ELF programs cut short, with program headers
      // of another size, or naming an interpreter that is not there.
      {.name = "interpreter_is_a_folder",
       .status = 1,
       .expect = {{"/installer/file", "not a program"}, {"/installer/start_error_code", 13}},
       .linuxOnly = true,
       .installerBytes = "#!{ROOT}/drive_c\n",
       .execFails = true,
       .launcherStatus = 255},
      {.name = "interpreter_is_a_text_file",
       .status = 1,
       .expect = {{"/installer/start_error_code", 8}},
       .linuxOnly = true,
       .installerBytes = "#!{ROOT}/drive_c/hotfix/tools/notes\n",
       .programs = {{"drive_c/hotfix/tools/notes", "not a program\n"}},
       .execFails = true,
       .launcherStatus = 255},
      {.name = "interpreters_interpreter_missing",
       .status = 1,
       .expect = {{"/installer/start_error_code", 2}},
       .linuxOnly = true,
       .installerBytes = "#!{ROOT}/drive_c/hotfix/tools/sh\n",
       .programs = {{"drive_c/hotfix/tools/sh", "#!/missing/sh\n"}},
       .execFails = true,
       .launcherStatus = 255},
      {.name = "scripts_nested_as_deep_as_the_kernel_follows",
       .status = 0,
       .expect = {{"/installer/file", "regular file"}},
       .linuxOnly = true,
       .installerBytes = "#!{ROOT}/drive_c/hotfix/tools/s4 -x\n",
       .programs = {{"drive_c/hotfix/tools/s1", "#!/bin/sh\nexit 0\n"},
                    {"drive_c/hotfix/tools/s2", "#!{ROOT}/drive_c/hotfix/tools/s1\n"},
                    {"drive_c/hotfix/tools/s3", "#! {ROOT}/drive_c/hotfix/tools/s2\n"},
                    {"drive_c/hotfix/tools/s4", "#!\t{ROOT}/drive_c/hotfix/tools/s3 \n"}},
       .launcherStatus = 0},
      {.name = "scripts_nested_one_deeper",
       .status = 1,
       .expect = {{"/installer/start_error_code", 40}},
       .linuxOnly = true,
       .installerBytes = "#!{ROOT}/drive_c/hotfix/tools/s5\n",
       .programs = {{"drive_c/hotfix/tools/s1", "#!/bin/sh\nexit 0\n"},
                    {"drive_c/hotfix/tools/s2", "#!{ROOT}/drive_c/hotfix/tools/s1\n"},
                    {"drive_c/hotfix/tools/s3", "#!{ROOT}/drive_c/hotfix/tools/s2\n"},
                    {"drive_c/hotfix/tools/s4", "#!{ROOT}/drive_c/hotfix/tools/s3\n"},
                    {"drive_c/hotfix/tools/s5", "#!{ROOT}/drive_c/hotfix/tools/s4\n"}},
       .execFails = true,
       .launcherStatus = 255},
      {.name = "static_32_bit_x86_installer",
       .status = 0,
       .linuxOnly = true,
       .installerBytes = kI386Program,
       .kernelDecides = true,
       .launcherStatus = 0},
      {.name = "x32_installer",
       .status = 0,
       .linuxOnly = true,
       .installerBytes = kX32Program,
       .kernelDecides = true,
       .notUnderValgrind = true,
       .launcherStatus = 0},
      {.name = "elf_cut_short",
       .status = 1,
       .expect = {{"/installer/file", "not a program"}, {"/installer/start_error_code", 8}},
       .linuxOnly = true,
       .installerBytes = "{EXAMPLE:cut}",
       .execFails = true,
       .launcherStatus = 255},
      {.name = "elf_program_headers_of_another_size",
       .status = 1,
       .expect = {{"/installer/start_error_code", 8}},
       .linuxOnly = true,
       .installerBytes = "{EXAMPLE:phentsize}",
       .execFails = true,
       .launcherStatus = 255},
      {.name = "elf_interpreter_missing",
       .status = 1,
       .expect = {{"/installer/start_error_code", 2}},
       .linuxOnly = true,
       .installerBytes = "{EXAMPLE:interpreter}",
       .execFails = true,
       .launcherStatus = 255},
      // An error that depends on when the file is read is unknown, not "missing": with descriptors
      // for little more than the standard streams, the settings cannot be read now (the launcher,
      // which cannot read them either, then writes nothing and ends with 255).
      {.name = "too_many_open_files",
       .status = 77,
       .expect = {{"/settings/loaded", false},
                  {"/settings/reason", "Too many open files (error 24)"},
                  {"/unknown/0/item", "settings"}},
       .args = {"--json", "--launcher", "setup", "{BUNDLE}"},
       .linuxOnly = true,
       .fileLimit = 4,
       .notUnderValgrind = true,
       .launcherStatus = 255},
      // A patch-info file another program holds open without sharing it with writers: the
      // launcher's open would fail now, and may not later. Installed, the launcher ends with 0
      // either way; whether it records the id is unknown.
      {.name = "patch_info_held_open",
       .status = 0,
       .expect = {{"/check/installed", true},
                  {"/patch_info/access", nullptr},
                  {"/unknown/0/item", "patch_info.access"}},
       .registry = kInstalled + kProgramPath,
       .patchInfo = "KB0\r\n",
       .heldOpen = "C:\\Srv\\server\\patchinfo",
       .windowsOnly = true,
       .launcherStatus = 0},
      {.name = "usage_outside_the_drives",
       .status = 64,
       .args = {"{ROOT}"},
       .error = "(HOTFIX_LAUNCHER_PREFIX)",
       .linuxOnly = true},
  };
}

// The SHA-256 of a file in hex, by sha256sum reading it as its standard input (whatever its
// name); 64 zeros when there is no such file.
std::string Sha256(const fs::path& file) {
  std::string output;
  if (!fs::exists(file)) return std::string(64, '0');
  std::string bytes = ReadFile(file);
  RunProgram({"sha256sum"}, {}, &output, Streams::kUsual, nullptr, &bytes);
  return output.substr(0, 64);
}

// A path below the root, or with "" the folder the Linux prefix lies in.
fs::path Below(const Leg& on, const std::string& path) {
  return path.empty() ? on.Root().parent_path() : on.Root() / path;
}

void WriteSums(Leg& on, const Row& row);

// Lays out the row's staging: the folder the Linux prefix lies in as a rollout leaves it (root's,
// mode 0755), then the row's modes, owners, second name and sums file.
void Stage(Leg& on, const Row& row) {
  const fs::path folder = on.LauncherFolder();
  for (const std::string& name : row.bundleFiles) WriteFile(folder / name, name);
  WriteSums(on, row);
  if (!on.IsWine()) {
    ASSERT_EQ(chown(Below(on, "").c_str(), 0, 0), 0);
    fs::permissions(Below(on, ""), fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  }
  for (const auto& [path, mode] : row.modes) fs::permissions(Below(on, path), mode);
  for (const std::string& path : row.nobodyOwns) {
    ASSERT_EQ(chown(Below(on, path).c_str(), 65534, 65534), 0) << path;
  }
  if (!row.secondName.empty()) fs::create_hard_link(folder / "kb1.exe", on.Root() / row.secondName);
}

// The row's drive_c/hotfix/SHA256SUMS. A name with a backslash or a line end is written escaped,
// as sha256sum writes it.
void WriteSums(Leg& on, const Row& row) {
  const fs::path folder = on.LauncherFolder();
  std::string sums = row.sumsBytes;
  for (std::string name : row.sums) {
    bool wrong = name[0] == '!';
    if (wrong) name.erase(0, 1);
    bool binary = name[0] == '*';
    if (binary) name.erase(0, 1);
    size_t at = name.find("{LAUNCHER}");
    if (at != std::string::npos) name.replace(at, 10, on.LauncherFileName());
    std::string digest = Sha256(folder / name);
    if (wrong) digest[0] = digest[0] == '0' ? '1' : '0';
    std::string listed;
    for (char c : name) listed += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    sums +=
        (listed != name ? "\\" : "") + digest + (binary ? " *" : "  ") + listed + row.sumsLineEnd;
  }
  if (!sums.empty()) WriteFile(on.Root() / "drive_c/hotfix/SHA256SUMS", sums);
}

// The example installer, changed: "cut" keeps its ELF header and a program header and a half;
// "phentsize" gives its program headers another size; "interpreter" names one that is not
// there. Empty when the example is no 64-bit ELF program with an interpreter.
std::string ExampleChanged(const std::string& example, const std::string& change) {
  std::string bytes = ReadFile(example);
  auto number = [&bytes](size_t at, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size && at + i < bytes.size(); ++i) {
      value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
  };
  if (bytes.size() < 64 || bytes.compare(0, 5,
                                         "\x7f"
                                         "ELF\x02") != 0)
    return "";
  const uint64_t headers = number(32, 8);
  const size_t kHeaderSize = 56;
  if (change == "cut") return bytes.substr(0, headers + kHeaderSize + kHeaderSize / 2);
  if (change == "phentsize") return bytes.replace(54, 1, 1, static_cast<char>(kHeaderSize / 2));
  for (uint64_t i = 0; i < number(56, 2); ++i) {
    uint64_t at = headers + i * kHeaderSize;
    if (number(at, 4) != 3) continue;  // PT_INTERP
    uint64_t end = number(at + 8, 8) + number(at + 32, 8);
    if (end < 2 || end > bytes.size()) return "";
    bytes[end - 2] = 'X';  // the last character before its NUL
    return bytes;
  }
  return "";
}

// The text with {ROOT} as the root's host path, or an example installer changed.
std::string Expand(const Leg& on, const HarnessOptions& with, std::string text) {
  if (text.rfind("{EXAMPLE:", 0) == 0) {
    return ExampleChanged(with.installer, text.substr(9, text.size() - 10));
  }
  for (size_t at; (at = text.find("{ROOT}")) != std::string::npos;) {
    text.replace(at, 6, on.Root().string());
  }
  return text;
}

// Whether this kernel runs the program: started from a file of its own, it ends with 0.
bool KernelRuns(const std::string& program) {
  char path[] = "/tmp/hotfix-program-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return false;
  close(fd);
  WriteFile(path, program);
  fs::permissions(path, fs::perms::owner_all);
  int status = RunProgram({path}, {});
  fs::remove(path);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Prepare(Leg& on, const HarnessOptions& with, const Row& row) {
  on.Reset();
  fs::path folder = on.LauncherFolder();
  on.PlaceLauncher();
  if (row.secondLauncher) {
    fs::copy_file(with.launcher, folder / (on.IsWine() ? "other.exe" : "other"));
  }
  if (!row.ini.empty()) WriteFile(folder / "Installer.ini", row.ini);
  const fs::perms executable = fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec;
  for (const auto& [path, bytes] : row.programs) {
    WriteFile(on.Root() / path, Expand(on, with, bytes));
    fs::permissions(on.Root() / path, executable);
  }
  if (row.installerFolder) {
    fs::create_directories(folder / "kb1.exe");
  } else if (!row.installerBytes.empty()) {
    WriteFile(folder / "kb1.exe", Expand(on, with, row.installerBytes));
    fs::permissions(folder / "kb1.exe", executable);
  } else {
    fs::copy_file(with.installer, folder / "kb1.exe");
  }
  if (!row.patchInfo.empty()) {
    fs::path real = on.Root() / (row.links.empty() ? "drive_c/Srv" : "drive_c/hotfix/Srv");
    WriteFile(real / "server/patchinfo", row.patchInfo);
  }
  for (const auto& [path, target] : row.links) fs::create_symlink(target, on.Root() / path);
  on.WriteRegistry(row.registry, kNoRebootMarkers + row.systemRegistry);
  Stage(on, row);
  if (row.asNobody) {
    fs::permissions(on.Root(), fs::perms::owner_all | fs::perms::others_read |
                                   fs::perms::others_exec | fs::perms::group_read |
                                   fs::perms::group_exec);
    fs::permissions(on.Root() / "HKLM.reg", fs::perms::owner_read | fs::perms::owner_write);
  }
  on.PlacePreflight(row.besideLauncher);
}

std::vector<std::string> Arguments(const Leg& on, const Row& row) {
  std::vector<std::string> args;
  for (std::string arg : row.args) {
    size_t at = arg.find("{BUNDLE}");
    if (at != std::string::npos) {
      arg.replace(at, 8, on.BundleArgument());
      if (!on.IsWine()) std::replace(arg.begin(), arg.end(), '\\', '/');
    }
    if (arg.rfind("{ROOT}", 0) == 0) arg = on.Root().string() + arg.substr(6);
    if (arg == "{INI}") {
      arg = on.IsWine() ? "C:\\hotfix\\kb1\\Installer.ini"
                        : (on.LauncherFolder() / "Installer.ini").string();
    }
    if (arg == "{SUMS}") {
      arg = on.IsWine() ? "C:\\hotfix\\SHA256SUMS"
                        : (on.Root() / "drive_c/hotfix/SHA256SUMS").string();
    }
    if (arg == "{OTHER}") arg = on.IsWine() ? "other.exe" : "other";
    args.push_back(arg);
  }
  return args;
}

// Runs the row's preflight on a prepared leg; returns its parsed JSON report, or null.
Json RunJson(Leg& on, const Row& row, PreflightRun* run) {
  *run = on.RunPreflight({Arguments(on, row), row.besideLauncher, row.fullOutput, row.asNobody,
                          row.input.empty() ? nullptr : &row.input, row.fileLimit, row.heldOpen});
  return row.args[0] == "--json" ? Json::parse(run->output, nullptr, false) : Json();
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
    if (!report.contains(object) || !report[object].is_object()) continue;
    // A host's state names the settings file as it was given.
    if (report.contains("state") && std::string(object) == "settings") continue;
    const Json& path = report[object][key];
    const Json& host = report[object]["host_path"];
    if (path.is_null() || on.IsWine()) {
      EXPECT_EQ(host, path) << object;
    } else {
      EXPECT_EQ(host.get<std::string>().rfind(drives, 0), 0u) << object << ": " << host;
    }
  }
}

// Leaves out what differs between the builds by design: host paths, and the system's texts and
// codes in reasons.
void EraseSystemTexts(Json* report) {
  for (auto& [key, value] : report->items()) {
    if (value.is_object()) EraseSystemTexts(&value);
  }
  // The staging's findings name each system's own accounts and rights.
  for (const char* key : {"host_path", "runs_from", "reason", "start_error", "start_error_code",
                          "free_space_bytes", "installation_in_progress", "staging"}) {
    report->erase(key);
  }
  for (auto item = report->begin(); item != report->end();) {
    const std::string& key = item.key();
    bool reason = key.size() > 7 && key.compare(key.size() - 7, 7, "_reason") == 0;
    item = reason ? report->erase(item) : std::next(item);
  }
}

// The version the build gives its programs, as the row's placed preflight says it.
std::string Version(Leg& on, const Row& row) {
  PreflightRun run = on.RunPreflight({{"--version"}, row.besideLauncher});
  std::string version = run.output.substr(run.output.find(' ') + 1);
  return version.substr(0, version.find_first_of("\r\n"));
}

class PreflightRows : public ::testing::TestWithParam<Row> {};

// The launcher's real run after the preflight's, with the row's tail and conditions: its status,
// and what the preflight predicted of it.
void ExpectLauncherRun(const Row& row, const Json& report, int launcherStatus) {
  LaunchRequest request;
  auto tail = std::find(row.args.begin(), row.args.end(), "--");
  if (tail != row.args.end()) request.tail.assign(tail + 1, row.args.end());
  request.fileLimit = row.fileLimit;
  request.heldOpen = row.heldOpen;
  PredictedFiles before = LookAtPredictedFiles(*leg, report);
  int status = leg->Run(request);
  EXPECT_EQ(status, launcherStatus) << "the launcher's run";
  ExpectPredicted(report, status, *leg, before);
}

TEST_P(PreflightRows, StatusReportAndNothingChanged) {
  const Row& row = GetParam();
  if (row.linuxOnly && leg->IsWine()) GTEST_SKIP() << "the Linux port's";
  if (row.windowsOnly && !leg->IsWine()) GTEST_SKIP() << "Windows only";
  if (row.asNobody && geteuid() != 0) GTEST_SKIP() << "running as nobody needs root";
  if (row.notUnderValgrind && !options.wrapper.empty()) {
    GTEST_SKIP() << "valgrind ends a child whose exec fails, and takes descriptors of its own";
  }
  utsname system;
  if (row.kernelDecides && (uname(&system) != 0 || std::string(system.machine) != "x86_64")) {
    GTEST_SKIP() << "a program an x86-64 kernel may run";
  }
  Prepare(*leg, options, row);
  if (!row.installerBytes.empty() && ReadFile(leg->LauncherFolder() / "kb1.exe").empty()) {
    GTEST_SKIP() << "the example installer is no ELF program with an interpreter";
  }
  bool runs = row.kernelDecides && KernelRuns(row.installerBytes);
  int status = row.kernelDecides ? (runs ? 0 : 1) : row.status;
  PreflightRun run;
  Json report = RunJson(*leg, row, &run);
  EXPECT_EQ(run.status, status) << run.output << run.errors;
  EXPECT_EQ(run.changes, "") << "the preflight changed these";
  if (row.status == 64) {
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    EXPECT_NE(run.errors.find(row.error), std::string::npos) << run.errors;
  } else if (row.args[0] == "--json") {
    ASSERT_FALSE(report.is_discarded()) << run.output;
    EXPECT_EQ(report["status"], status);
    for (const auto& [pointer, value] : row.expect) {
      Json::json_pointer at(pointer);
      ASSERT_TRUE(report.contains(at)) << pointer << " in\n" << run.output;
      Json expected = value;
      if (value.is_string() && value.get<std::string>().rfind("{ROOT}", 0) == 0) {
        expected = fs::canonical(leg->Root()).string() + value.get<std::string>().substr(6);
      }
      if (value == "{HOLDER}") expected = leg->Root().parent_path().string();
      if (value == "{VERSION}") expected = Version(*leg, row);
      EXPECT_EQ(report[at], expected) << pointer;
    }
    ExpectHostPaths(*leg, report);
  } else {
    std::string text = row.text;
    size_t at = text.find("{VERSION}");
    if (at != std::string::npos) text.replace(at, 9, Version(*leg, row));
    EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
  }

  if (row.launcherStatus.has_value() && !(row.execFails && !options.wrapper.empty())) {
    ExpectLauncherRun(row, report, row.kernelDecides ? (runs ? 0 : 255) : *row.launcherStatus);
  }

  if (linuxLeg != nullptr && row.args[0] == "--json" && row.status != 64 && !row.windowsOnly) {
    Prepare(*linuxLeg, linuxOptions, row);
    PreflightRun linuxRun;
    Json linuxReport = RunJson(*linuxLeg, row, &linuxRun);
    ASSERT_FALSE(linuxReport.is_discarded()) << linuxRun.output << linuxRun.errors;
    for (Json* each : {&report, &linuxReport}) EraseSystemTexts(each);
    EXPECT_EQ(linuxReport, report) << "Linux:\n" << linuxRun.output << "\nWindows:\n" << run.output;
  }
}

INSTANTIATE_TEST_SUITE_P(All, PreflightRows, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  options = ParseHarnessOptions(argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    for (auto [flag, field] : {std::pair{"--linux-launcher=", &linuxOptions.launcher},
                               {"--linux-preflight=", &linuxOptions.preflight},
                               {"--linux-installer=", &linuxOptions.installer}}) {
      if (arg.rfind(flag, 0) == 0) *field = fs::absolute(arg.substr(strlen(flag))).string();
    }
  }
  leg = MakeLeg(options, "drive_c/hotfix/kb1");
  if (leg == nullptr || options.preflight.empty() || options.installer.empty()) {
    fprintf(stderr, "usage: preflight_test --leg=L --launcher=P --preflight=P --installer=P ...\n");
    return 2;
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
