// The scenario list of the end-to-end tests.
#include "scenarios.h"

#include "harness.h"

namespace {

const std::string kHead = "/norestart /log:\"c:\\tmp.log\" ";
const std::string kArgs = "[/norestart] [/log:c:\\tmp.log]";
const std::string kCheckKey = "SOFTWARE\\ExampleHotfix";

std::string Ini(const std::string& runParams, const std::string& expected = "1",
                const std::string& appName = "kb1.exe") {
  return "[MicrosoftPatch]\r\nAppName=" + appName +
         "\r\nDaziveID=KB1\r\nMicrosoftRegKey=SOFTWARE\\ExampleHotfix\r\nRegKeyName=Installed\r\n"
         "RegKeyValue=" +
         expected + "\r\nRunParams=" + runParams + "\r\n";
}

std::string Record(const std::string& who, const std::string& message) {
  return "{T}" + who + ", {DIR} setup " + message + "\n";
}

std::string Record(const std::string& message) { return Record("KB1", message); }

std::string Banner(const std::string& arguments, const std::string& installer = "kb1.exe") {
  return "{T}*********************   QOR: New OS Patch  *****************************,   \n"
         "{T}*******  Installing, KB1 " +
         installer + " " + arguments + "\n" +
         "{T}************************************************************************,   \n";
}

std::string CheckValue(const std::string& data) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=" + data + "\r\n";
}

const std::string kServer =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n\"ProgramPath\"=\"C:\\\\Srv\"\r\n";
const std::string kKeyMissing = Record("Failed RegOpenKeyEx") + Record(kCheckKey);

std::string ExitRecords(const std::string& arguments, const std::string& exitText) {
  return Record("{DIR}kb1.exe") + Record("\"{DIR}kb1.exe\" " + kHead + arguments) +
         Record(exitText) + "{MSG}";
}

std::string NotInDword(const std::string& firstByte) {
  return Record("Value in Registry is not the 1 value") + Record(kCheckKey) + Record("Installed") +
         Record(firstByte);
}

std::vector<Scenario> MakeScenarios() {
  const std::string line239(239, 'x');
  const std::string line500(500, 'y');
  std::vector<Scenario> list;

  // The settings gate: one record, no banner, nothing launched, exit -1.
  list.push_back({.name = "ini_missing",
                  .hasIni = false,
                  .status = -1,
                  .runLog = Record("N/A ", "AppName is missing from ini file.")});
  list.push_back({.name = "ini_only_appname",
                  .ini = "[MicrosoftPatch]\r\nAppName=kb1.exe\r\n",
                  .status = -1,
                  .runLog = Record("N/A", "DaziveID is missing from ini file.")});
  list.push_back({.name = "ini_other_section",
                  .ini = "[OtherPatch]\r\nAppName=kb1.exe\r\nDaziveID=KB1\r\n",
                  .status = -1,
                  .runLog = Record("N/A ", "AppName is missing from ini file.")});
  list.push_back({.name = "ini_value_missing_params_present",
                  .ini = "[MicrosoftPatch]\r\nAppName=kb1.exe\r\nDaziveID=KB1\r\n"
                         "MicrosoftRegKey=K\r\nRegKeyName=Installed\r\nRunParams=/q\r\n",
                  .status = -1,
                  .runLog = Record("RegKeyValue is missing from ini file.")});
  list.push_back(
      {.name = "ini_value_of_300_characters_cut_to_259",
       .ini = "[MicrosoftPatch]\r\nAppName=kb1.exe\r\nDaziveID=" + std::string(300, 'k'),
       .status = -1,
       .runLog = Record(std::string(259, 'k'), "MicrosoftRegKey is missing from ini file.")});
  list.push_back({.name = "ini_value_too_long",
                  .ini = Ini("", std::string(60, '1')),
                  .status = -1,
                  .runLog = Record("RegKeyValue is too long in ini file.")});
  list.push_back({.name = "arguments_too_long",
                  .ini = Ini("/p"),
                  .tail = {std::string(68, 't')},
                  .status = -1,
                  .runLog = Record("Installer arguments are too long.")});

  // The outcome table.
  list.push_back({.name = "installed",
                  .ini = Ini("/mark"),
                  .registry = kServer,
                  .folders = {"drive_c/Srv/server"},
                  .status = 0,
                  .runLog = Banner(kHead + "/mark "),
                  .patchInfoPath = "drive_c/Srv/server/patchinfo",
                  .patchInfo = "KB1\r\n"});
  list.push_back(
      {.name = "installed_earlier_installer_gone",
       .ini = Ini("", "1", "gone.exe"),
       .registry = kServer + CheckValue("dword:00000001"),
       .folders = {"drive_c/Srv/server"},
       .earlierPatchInfo = "KB1\r\n",
       .status = 0,
       .runLog =
           "{T}*********************   QOR: New OS Patch  *****************************,   \n"
           "{T}*******  Installing, KB1 gone.exe " +
           kHead + "\n" +
           "{T}************************************************************************,   \n" +
           Record("Failed to create process") + Record("{DIR}gone.exe") +
           Record("\"{DIR}gone.exe\" " + kHead),
       .patchInfoPath = "drive_c/Srv/server/patchinfo",
       .patchInfo = "KB1\r\nKB1\r\n"});
  list.push_back(
      {.name = "not_installed_exit_0",
       .ini = Ini(""),
       .status = 0,
       .runLog = Banner(kHead) + kKeyMissing + "installer arguments: " + kArgs + "\n\n"});
  list.push_back({.name = "not_installed_exit_5",
                  .ini = Ini("/exit:5"),
                  .status = 5,
                  .runLog = Banner(kHead + "/exit:5 ") + ExitRecords("/exit:5 ", "Exit code = 5") +
                            kKeyMissing + "installer arguments: " + kArgs + " [/exit:5]\n\n"});
  list.push_back(
      {.name = "not_installed_not_started",
       .ini = Ini("", "1", "kb1"),
       .status = -1,
       .runLog =
           "{T}*********************   QOR: New OS Patch  *****************************,   \n"
           "{T}*******  Installing, KB1 kb1 " +
           kHead + "\n" +
           "{T}************************************************************************,   \n" +
           Record("Failed to create process") + Record("{DIR}kb1") +
           Record("\"{DIR}kb1\" " + kHead) + kKeyMissing});
  list.push_back({.name = "not_installed_not_executable",
                  .legs = Legs::kLinuxOnly,
                  .ini = Ini(""),
                  .installerExecutable = false,
                  .status = -1,
                  .runLog = Banner(kHead) + Record("Failed to create process") +
                            Record("{DIR}kb1.exe") + Record("\"{DIR}kb1.exe\" " + kHead) +
                            kKeyMissing});
  list.push_back({.name = "exit_code_top_bit_set",
                  .legs = Legs::kWindowsOnly,
                  .ini = Ini("/exit:-1073741819"),
                  .status = -1073741819,
                  .runLog = Banner(kHead + "/exit:-1073741819 ") +
                            ExitRecords("/exit:-1073741819 ", "Exit code = -1073741819") +
                            kKeyMissing + "installer arguments: " + kArgs +
                            " [/exit:-1073741819]\n\n"});

  // The command tail reaches the installer after the configured switches.
  list.push_back({.name = "tail_after_switches",
                  .ini = Ini("/quiet"),
                  .tail = {"/passive", "a b", "c\"d"},
                  .status = 0,
                  .runLog = Banner(kHead + "/quiet /passive \"a b\" \"c\\\"d\"") + kKeyMissing +
                            "installer arguments: " + kArgs +
                            " [/quiet] [/passive] [a b] [c\"d]\n\n"});
  list.push_back({.name = "tail_quoted_program_name",
                  .legs = Legs::kWindowsOnly,
                  .ini = Ini(""),
                  .tail = {"/x"},  // the preflight's; the launcher gets the whole line
                  .windowsCommandLine = "\"C:\\hotfix\\kb1\\setup.exe\"  /x",
                  .status = 0,
                  .runLog = Banner(kHead + "/x") + kKeyMissing + "installer arguments: " + kArgs +
                            " [/x]\n\n"});

  // The check's rules.
  struct Check {
    const char* name;
    std::string data;
    std::string expected;
    std::string report;  // empty: installed
  } checks[] = {
      {"check_dword_1", "dword:00000001", "1", ""},
      {"check_dword_257_first_byte", "dword:00000101", "1", ""},
      {"check_dword_0", "dword:00000000", "1", NotInDword("0")},
      {"check_dword_expected_0x1", "dword:00000001", "0x1", NotInDword("1")},
      {"check_dword_0_expected_0x1", "dword:00000000", "0x1", ""},
      {"check_dword_expected_plus_1", "dword:00000001", "+1", ""},
      {"check_dword_expected_01", "dword:00000001", "01", ""},
      {"check_dword_expected_257", "dword:00000101", "257", NotInDword("1")},
      {"check_dword_expected_yes", "dword:00000001", "yes", NotInDword("1")},
      {"check_text_set_match", "\"Installed 1\"", "1", ""},
      {"check_text_set_match_0x1", "\"v2.0\"", "0x1", ""},
      {"check_text_no_match", "\"abc\"", "1",
       Record("0x1 wasnot fount in Registry Installed value")},
      {"check_text_empty", "\"\"", "1", Record("0x1 wasnot fount in Registry Installed value")},
      {"check_size_0", "hex(1):", "1",
       Record("Failed RegQueryValueEx Installed") + Record(kCheckKey) + Record("Installed")},
      {"check_value_missing", "-", "1",
       Record("Failed RegQueryValueEx Installed") + Record(kCheckKey) + Record("Installed")},
  };
  for (const Check& check : checks) {
    Scenario scenario{.name = check.name,
                      .ini = Ini("", check.expected),
                      .registry = CheckValue(check.data),
                      .status = 0,
                      .runLog = Banner(kHead) + check.report};
    if (!check.report.empty()) scenario.runLog += "installer arguments: " + kArgs + "\n\n";
    list.push_back(scenario);
  }

  // The installer log's merge into the run log.
  struct Merge {
    const char* name;
    std::string installerLog;
    std::string merged;
  } merges[] = {
      {"merge_two_lines", "a\r\nb\r\n", "a\n\nb\n\n"},
      {"merge_last_line_unended", "a\r\nlast", "a\n\nlast\n"},
      {"merge_line_of_239", line239 + "\r\nz\r\n", line239 + "\n\n\nz\n\n"},
      {"merge_line_of_500", line500 + "\r\n",
       line500.substr(0, 239) + "\n" + line500.substr(0, 239) + "\n" + line500.substr(0, 22) +
           "\n\n"},
      {"merge_ends_at_byte_26",
       "a\r\n\x1a"
       "b\r\n",
       "a\n\n"},
      {"merge_lone_cr_and_nul", std::string("a\rb\r\nab\0cd\r\nef\r\n", 16), "a\rb\n\nab\nef\n\n"},
      {"merge_empty_log", "\x1a", ""},
  };
  for (const Merge& merge : merges) {
    list.push_back({.name = merge.name,
                    .ini = Ini(""),
                    .installerLog = merge.installerLog,
                    .status = 0,
                    .runLog = Banner(kHead) + kKeyMissing + merge.merged});
  }

  // Where the patch id goes.
  const std::string installed = CheckValue("dword:00000001");
  const std::string marker =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER\\DICT_FILES\\$scsi0$sysDict]\r\n";
  list.push_back({.name = "patchinfo_marker_present",
                  .ini = Ini(""),
                  .registry = installed + kServer + marker + "\"PATCHFILENAME\"=\"dict.ptc\"\r\n",
                  .folders = {"drive_e/qor/server/persist"},
                  .status = 0,
                  .runLog = Banner(kHead),
                  .patchInfoPath = "drive_e/qor/server/persist/patchInfo",
                  .patchInfo = "KB1\r\n"});
  list.push_back({.name = "patchinfo_marker_empty",
                  .ini = Ini(""),
                  .registry = installed + kServer + marker + "\"PATCHFILENAME\"=\"\"\r\n",
                  .folders = {"drive_c/Srv/server"},
                  .status = 0,
                  .runLog = Banner(kHead),
                  .patchInfoPath = "drive_c/Srv/server/patchinfo",
                  .patchInfo = "KB1\r\n"});
  list.push_back({.name = "patchinfo_marker_without_program_path",
                  .ini = Ini(""),
                  .registry = installed + marker + "\"PATCHFILENAME\"=\"dict.ptc\"\r\n",
                  .folders = {"drive_e/qor/server/persist"},
                  .status = 0,
                  .runLog = Banner(kHead)});
  list.push_back({.name = "patchinfo_program_path_trailing_backslash",
                  .ini = Ini(""),
                  .registry = installed + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n"
                                          "\"ProgramPath\"=\"C:\\\\Srv\\\\\"\r\n",
                  .folders = {"drive_c/Srv/server"},
                  .status = 0,
                  .runLog = Banner(kHead),
                  .patchInfoPath = "drive_c/Srv/server/patchinfo",
                  .patchInfo = "KB1\r\n"});
  list.push_back(
      {.name = "patchinfo_program_path_empty",
       .ini = Ini(""),
       .registry =
           installed + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\SERVER]\r\n\"ProgramPath\"=\"\"\r\n",
       .status = 0,
       .runLog = Banner(kHead) + Record("Failed to open PatchInfo file") +
                 Record("\\server\\patchinfo")});
  list.push_back({.name = "patchinfo_folder_missing",
                  .ini = Ini(""),
                  .registry = installed + kServer,
                  .status = 0,
                  .runLog = Banner(kHead) + Record("Failed to open PatchInfo file") +
                            Record("C:\\Srv\\server\\patchinfo")});

  // What a careful operator meets before the launcher: the preflight must tell what it then does.
  list.push_back({.name = "appname_missing",
                  .ini = "[MicrosoftPatch]\r\nDaziveID=KB1\r\nMicrosoftRegKey=K\r\n",
                  .status = -1,
                  .runLog = Record("N/A ", "AppName is missing from ini file.")});
  for (const char* name : {".\\kb1.exe", "./kb1.exe", "x\\..\\kb1.exe"}) {
    list.push_back(
        {.name = name[0] == 'x'   ? "appname_through_parent"
                 : name[1] == '/' ? "appname_dot_slash"
                                  : "appname_dot_backslash",
         .ini = Ini("", "1", name),
         .status = 0,
         .runLog = Banner(kHead, name) + kKeyMissing + "installer arguments: " + kArgs + "\n\n"});
  }
  list.push_back(
      {.name = "bundle_with_other_programs",
       .ini = Ini(""),
       .otherPrograms = true,
       .status = 0,
       .runLog = Banner(kHead) + kKeyMissing + "installer arguments: " + kArgs + "\n\n"});
  list.push_back({.name = "installer_not_a_program",
                  .ini = Ini(""),
                  .installerBytes = "<html><body>404 Not Found</body></html>\r\n",
                  .status = -1,
                  .runLog = Banner(kHead) + Record("Failed to create process") +
                            Record("{DIR}kb1.exe") + Record("\"{DIR}kb1.exe\" " + kHead) +
                            kKeyMissing});
  list.push_back(
      {.name = "reboot_pending",
       .ini = Ini(""),
       .systemRegistry = "[" + kRebootPendingKey + "]\r\n",
       .status = 0,
       .runLog = Banner(kHead) + kKeyMissing + "installer arguments: " + kArgs + "\n\n"});
  // The run log's own opens: one made by the run, and a folder in its place, which no record
  // reaches.
  list.push_back(
      {.name = "run_log_created",
       .ini = Ini(""),
       .runLogBefore = RunLogBefore::kNone,
       .status = 0,
       .runLog = Banner(kHead) + kKeyMissing + "installer arguments: " + kArgs + "\n\n"});
  list.push_back({.name = "run_log_is_a_folder",
                  .ini = Ini(""),
                  .runLogBefore = RunLogBefore::kFolder,
                  .status = 0,
                  .runLog = ""});
  // Linux only: a launcher that is a link to the installed one runs from outside the prefix, where
  // it touches nothing; a dangling patch-info link, which wine does not show as one; and a
  // launcher folder whose Windows path passes 259 characters, where Windows starts no program.
  for (bool found : {true, false}) {
    list.push_back({.name = found ? "installer_script" : "installer_script_interpreter_missing",
                    .legs = Legs::kLinuxOnly,
                    .ini = Ini(""),
                    .installerBytes = found ? "#!/bin/sh\nexit 0\n" : "#!/missing/sh\nexit 0\n",
                    .execFails = !found,
                    .status = found ? 0 : -1,
                    .runLog = Banner(kHead) +
                              (found ? ""
                                     : Record("Failed to create process") + Record("{DIR}kb1.exe") +
                                           Record("\"{DIR}kb1.exe\" " + kHead)) +
                              kKeyMissing});
  }
  list.push_back({.name = "launcher_link_outside_prefix",
                  .legs = Legs::kLinuxOnly,
                  .ini = Ini(""),
                  .launcherOutside = true,
                  .status = -1,
                  .runLog = ""});
  list.push_back({.name = "patchinfo_dangling_link",
                  .legs = Legs::kLinuxOnly,
                  .ini = Ini(""),
                  .registry = installed + kServer,
                  .links = {{"drive_c/Srv/server/patchinfo", "../../Missing/patchinfo"}},
                  .folders = {"drive_c/Srv/server"},
                  .status = 0,
                  .runLog = Banner(kHead) + Record("Failed to open PatchInfo file") +
                            Record("C:\\Srv\\server\\patchinfo")});
  list.push_back({.name = "launcher_folder_over_259_characters",
                  .legs = Legs::kLinuxOnly,
                  .ini = Ini(""),
                  .folder = "drive_c/" + std::string(130, 'a') + "/" + std::string(130, 'b'),
                  .status = -1,
                  .runLog = "{T}N/A ,   AppName is missing from ini file.\n"});
  return list;
}

}  // namespace

const char kEarlierRecord[] = "an earlier run's record";

const std::vector<Scenario>& AllScenarios() {
  static const std::vector<Scenario> list = MakeScenarios();
  return list;
}
