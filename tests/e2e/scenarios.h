// The end-to-end scenarios: one list, run by the Linux build in a temporary prefix and by the
// Windows build under wine64.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

enum class Legs { kBoth, kLinuxOnly, kWindowsOnly };

// The run log before the run: the earlier record, nothing, or a folder in its place.
enum class RunLogBefore { kEarlierRecord, kNone, kFolder };

struct Scenario {
  const char* name;
  Legs legs = Legs::kBoth;
  bool hasIni = true;
  std::string ini;
  // Registry lines after the header, keys under HKEY_LOCAL_MACHINE\SOFTWARE.
  std::string registry;
  std::string systemRegistry;  // lines for the registry's system view, such as reboot markers
  // Bytes the test installer writes as its log; empty: a line listing its arguments.
  std::string installerLog;
  bool installerPresent = true;
  bool installerExecutable = true;
  std::string installerBytes;    // the installer file's bytes; empty: the example installer
  bool otherPrograms = false;    // another program and a copy of the preflight in the bundle
  bool launcherOutside = false;  // Linux: the bundle's launcher is a link to one outside the prefix
  bool execFails = false;        // Linux: the installer's exec fails, which valgrind cannot survive
  std::string folder;            // Linux: the launcher's folder below the root, when not the usual
  std::vector<std::pair<std::string, std::string>> links;  // below the root: path, target
  std::vector<std::string> tail;                           // the launcher's arguments
  std::string windowsCommandLine;    // a whole command line instead, on Windows only
  std::vector<std::string> folders;  // folders below the root to make, e.g. "drive_c/Srv/server"
  std::string earlierPatchInfo;      // patch-info file content before the run
  RunLogBefore runLogBefore = RunLogBefore::kEarlierRecord;
  int status = 0;  // the full 32-bit exit status (Linux compares its low 8 bits)
  // The run log after the run, the earlier record included when it was there. "\n" stands for the
  // CR LF text mode stores; {T} is a time stamp, {DIR} the launcher directory, {MSG} the optional
  // record of the system message for the last error.
  std::string runLog;
  std::string patchInfoPath;  // below the root; empty: no patch-info file expected
  std::string patchInfo;      // its bytes
};

extern const char kEarlierRecord[];  // the run log's one line before every scenario

const std::vector<Scenario>& AllScenarios();

// Names a scenario in test reports, instead of its bytes.
inline void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }
