// What the end-to-end test programs share: a leg that runs the real launcher (the Linux build in a
// temporary prefix, or the Windows build under wine in a prefix of its own), file helpers, and the
// pattern that a run log's bytes are matched against.
#pragma once

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct HarnessOptions {
  std::string leg;  // "linux", "wine" (the x64 build), "wow64" or "win32" (the 32-bit product)
  std::string launcher, installer, reporter, preflight;
  std::vector<std::string> wrapper;  // a program the Linux programs run under, with its options
};

/// Takes --leg=, --launcher=, --installer=, --reporter=, --preflight= and --wrapper="program
/// options..." from the arguments that GoogleTest left; paths are made absolute.
HarnessOptions ParseHarnessOptions(int argc, char** argv);

/// The whole file's bytes; empty when it cannot be read.
std::string ReadFile(const fs::path& path);
/// Creates the file's folders and the file with exactly these bytes.
void WriteFile(const fs::path& path, const std::string& bytes);
/// Quotes one argument by the Microsoft C runtime's rules, as the Linux port forms its tail.
std::string QuoteArgument(const std::string& argument);

/// How a program's standard streams start: as usual, all closed, or with a standard output that
/// cannot be written (/dev/full).
enum class Streams { kUsual, kClosed, kFullOutput };

/// Runs a program with environment additions and waits for it alone (not for processes it left
/// running); returns its wait status. Its standard output goes to *output when asked, else
/// nowhere, and its standard error to *errors when asked, unless `streams` says otherwise; its
/// standard input reads *input when given. It inherits no other descriptor.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* output = nullptr, Streams streams = Streams::kUsual,
               std::string* errors = nullptr, const std::string* input = nullptr);

/// Turns a run-log template into a pattern: "\n" is stored as CR LF, {T} is any time stamp, {DIR}
/// the launcher directory, {MSG} an optional record of a system message (its own CR LF included).
std::regex LogPattern(const std::string& expected, const std::string& directory);

/// The key of one reboot marker the preflight reads (in the registry's system view), and the
/// system-view lines that clear all three of them.
extern const std::string kRebootPendingKey;
extern const std::string kNoRebootMarkers;

/// How the launcher is started: with its arguments, or on Windows with a whole command line.
struct LaunchRequest {
  std::vector<std::string> tail;   // the launcher's arguments
  std::string windowsCommandLine;  // a whole command line instead, on Windows only
  bool closedStreams = false;      // Linux only: the launcher starts with fds 0 to 2 closed
  int fileLimit = 0;     // Linux: at most this many descriptors (RLIMIT_NOFILE) when not 0
  std::string heldOpen;  // Windows: a file another process holds, sharing it with readers only
};

/// A status that no launcher run gives: the launcher did not end by returning from its run.
inline constexpr int kNoExitStatus = -1000;

/// How the preflight is run.
struct PreflightCall {
  std::vector<std::string> args;
  bool besideLauncher = false;         // a copy in the launcher's folder, else one outside it
  bool fullOutput = false;             // its standard output cannot be written
  bool asNobody = false;               // Linux: it runs as the user nobody
  const std::string* input = nullptr;  // what its standard input reads, when given
  int fileLimit = 0;                   // as LaunchRequest's
  std::string heldOpen;                // as LaunchRequest's
};

/// A preflight's run: its exit status and outputs, and what it changed, which must be nothing.
struct PreflightRun {
  int status = kNoExitStatus;
  std::string output;
  std::string errors;
  std::string changes;  // the files below the drives and the registry that differ afterwards
};

// One platform the launcher runs on: a root folder that holds the drives (a Linux prefix or a
// wine prefix), the launcher's folder below it, and the way to start the launcher there.
class Leg {
 public:
  virtual ~Leg() = default;
  virtual bool IsWine() const = 0;
  /// The launcher directory as the launcher itself writes it into its records.
  virtual std::string LauncherDirectory() const = 0;
  /// Replaces the registry's values for the launcher with these lines (keys under
  /// HKEY_LOCAL_MACHINE\SOFTWARE), given after the REGEDIT4 header, then imports `systemLines` as
  /// they stand, in the registry's system view (the 64-bit one on a 64-bit Windows).
  virtual void WriteRegistry(const std::string& lines, const std::string& systemLines = "") = 0;
  /// Where this machine finds a host path the preflight reports (on Windows, a Windows path).
  virtual fs::path HostFile(const std::string& hostPath) const = 0;
  /// The launcher's file name in its folder: "setup" or "setup.exe".
  virtual std::string LauncherFileName() const = 0;
  /// The launcher's folder as the preflight is told it on the command line.
  virtual std::string BundleArgument() const = 0;
  /// Puts the preflight where RunPreflight starts it: a copy in the launcher's folder when asked,
  /// else (on Windows, a copy) outside the launcher's folder.
  virtual void PlacePreflight(bool besideLauncher) = 0;
  /// Runs the placed preflight and checks that it changed nothing: the files below the drives
  /// (and on Linux the registry file) and, on wine, the registry as it saves before and after.
  virtual PreflightRun RunPreflight(const PreflightCall& call) = 0;
  /// Puts the launcher into its folder as "setup": a copy or, on Linux with `linkOutside`, a
  /// symbolic link to the launcher where it was built, outside the prefix.
  virtual void PlaceLauncher(bool linkOutside = false) = 0;
  /// Runs the launcher in its folder (placed there first when it is not); returns its exit status
  /// (the low 8 bits on Linux, the full 32 on Windows), or kNoExitStatus.
  virtual int Run(const LaunchRequest& request) = 0;
  /// The root that holds the drives; on Linux it lies in a folder of its own, the test's.
  const fs::path& Root() const { return root_; }
  fs::path LauncherFolder() const { return root_ / launcherFolder_; }

  /// Empties the drives of everything an earlier run left and makes drive C and the launcher's
  /// folder again.
  void Reset();
  /// Moves the launcher's folder to `launcherFolder` below the root (Linux only: the Windows leg
  /// keeps C:\hotfix\kb1).
  void MoveLauncherFolder(const fs::path& launcherFolder) { launcherFolder_ = launcherFolder; }

 protected:
  fs::path root_;
  fs::path launcherFolder_ = "drive_c/hotfix/kb1";  // below the root
};

/// The leg that the options name, with the launcher in `launcherFolder` below its root, a folder in
/// a drive ("drive_x/...": Linux only; the Windows leg keeps C:\hotfix\kb1); nullptr for an
/// unknown leg.
std::unique_ptr<Leg> MakeLeg(const HarnessOptions& options, const fs::path& launcherFolder);
