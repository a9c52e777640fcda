// hotfix-preflight [--json] [BUNDLE_DIR] [-- ARGUMENTS...]: finds the launcher of a hotfix bundle,
// reports what it would do on this host, and exits with the status an orchestrator gates on.
#include <cstdio>
#include <cstring>

#include "common/command_line.h"
#include "platform/folders.h"
#include "platform/memory.h"
#include "platform/profile.h"
#include "platform/startup.h"
#include "preflight/report.h"

namespace {

constexpr char kProgram[] = "hotfix-preflight";

constexpr char kHelp[] =
    "usage: hotfix-preflight [--json] [BUNDLE_DIR] [-- ARGUMENTS...]\n"
    "\n"
    "Tells what the launcher of a hotfix bundle would do on this host, and changes nothing.\n"
    "BUNDLE_DIR is the bundle's folder (default: this program's own folder). The launcher is the\n"
    "one program file there other than the installer (AppName) and this program. ARGUMENTS are\n"
    "the command tail the launcher would be given.\n"
    "\n"
    "  --json     print one JSON object instead of lines\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "\n"
    "Exit status: 0 ready (not installed, or installed and the id not recorded), 1 the\n"
    "launcher would not start the installer, 2 installed and recorded, 3 reboot pending,\n"
    "64 usage error.\n";

int UsageError(const char* message, const char* detail) {
  fprintf(stderr, "%s: %s%s\n", kProgram, message, detail);
  return kPreflightUsage;
}

// Finds the one program file in `folder` that can be the launcher, or says why there is none.
int FindLauncher(const char* folder, FixedText<kPathCapacity>* launcherFile) {
  FixedText<kPathCapacity> settingsPath;
  char installerName[kPathCapacity] = "";
  if (CopyText(&settingsPath, folder) && AppendText(&settingsPath, kSettingsFileName)) {
    ReadProfileString(kSettingsSection, "AppName", installerName, sizeof installerName,
                      settingsPath.text);
  }
  ProgramList programs;
  if (!ListProgramFiles(folder, installerName, &programs)) {
    return UsageError("cannot list the folder ", folder);
  }
  if (programs.count == 1) {
    CopyText(launcherFile, programs.names[0].text);
    return 0;
  }
  if (programs.count == 0) {
    return UsageError("no launcher: no program file besides the installer and this program in ",
                      folder);
  }
  char candidates[kMostListedPrograms * kPathCapacity + 32] = "";
  int shown = programs.count < kMostListedPrograms ? programs.count : kMostListedPrograms;
  for (int i = 0; i < shown; ++i) {
    if (i > 0) AppendBounded(candidates, sizeof candidates, ", ");
    AppendBounded(candidates, sizeof candidates, programs.names[i].text);
  }
  if (programs.count > shown) AppendBounded(candidates, sizeof candidates, ", ...");
  fprintf(stderr, "%s: more than one program file could be the launcher in %s: %s\n", kProgram,
          folder, candidates);
  return kPreflightUsage;
}

}  // namespace

int main(int argc, char** argv) {
  RestrictLibrarySearch();
  bool json = false;
  const char* given = nullptr;
  int tailStart = argc;  // the index of "--", whose arguments after it form the command tail
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--") == 0) {
      tailStart = i;
      break;
    }
    if (strcmp(arg, "--help") == 0) {
      fputs(kHelp, stdout);
      return 0;
    }
    if (strcmp(arg, "--version") == 0) {
      printf("%s %s\n", kProgram, HOTFIX_VERSION);
      return 0;
    }
    if (strcmp(arg, "--json") == 0) {
      json = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return UsageError("unknown option ", arg);
    } else if (given != nullptr) {
      return UsageError("more than one folder given: ", arg);
    } else {
      given = arg;
    }
  }

  char folder[kPathCapacity];
  switch (ResolveFolder(given, folder, sizeof folder)) {
    case FolderLookup::kFound:
      break;
    case FolderLookup::kNoFolder:
      return UsageError("no such folder: ", given != nullptr ? given : "(this program's own)");
    case FolderLookup::kOutsideDrives:
      return UsageError("the folder lies in no drive of the prefix, where no launcher runs: ",
                        given != nullptr ? given : "(this program's own)");
  }
  FixedText<kPathCapacity> launcherFile;
  if (int status = FindLauncher(folder, &launcherFile); status != 0) return status;

  size_t tailSize = CommandTailSize(argc - tailStart, argv + tailStart);
  auto* tail = static_cast<char*>(AllocateBuffer(tailSize));
  if (tail == nullptr || !JoinCommandTail(argc - tailStart, argv + tailStart, tail, tailSize)) {
    ReleaseBuffer(tail);
    fprintf(stderr, "%s: out of memory\n", kProgram);
    return kPreflightCannotRun;
  }
  // Large records of fixed capacity: kept off the stack.
  static PreflightReport report;
  InspectBundle({folder, launcherFile.text, tail}, &report);
  ReleaseBuffer(tail);
  int status = DecidePreflightStatus(report);
  if (json) {
    PrintJsonReport(report, status, StandardOutput());
  } else {
    PrintTextReport(report, status, StandardOutput());
  }
  return fflush(stdout) == 0 ? status : kPreflightCannotRun;
}
