// hotfix-preflight [--json] [--launcher NAME] [--sums FILE] [BUNDLE_DIR] [-- ARGUMENTS...]: finds
// the launcher of a hotfix bundle, reports what it would do on this host and who can change it,
// and exits with the status an orchestrator gates on.
#include <cstdio>
#include <cstring>

#include "common/command_line.h"
#include "platform/folders.h"
#include "platform/memory.h"
#include "platform/staging.h"
#include "platform/startup.h"
#include "preflight/report.h"
#include "preflight/sums.h"

namespace {

constexpr char kProgram[] = "hotfix-preflight";

// Large records of fixed capacity, kept off the stack.
PreflightReport report;
SumsList sumsList;
SumsFile sums;

constexpr char kHelp[] =
    "usage: hotfix-preflight [--json] [--launcher NAME] [--sums FILE] [BUNDLE_DIR]\n"
    "                        [-- ARGUMENTS...]\n"
    "       hotfix-preflight --state --settings FILE|- [--json]\n"
    "\n"
    "Tells what the launcher of a hotfix bundle would do on this host, and whether anyone but\n"
    "an administrator can change what it would run; changes nothing. BUNDLE_DIR is the\n"
    "bundle's folder (default: this program's own folder). The launcher is the one program\n"
    "there that carries the launcher's mark, whatever its name; NAME names it instead.\n"
    "ARGUMENTS are the command tail the launcher would be given.\n"
    "\n"
    "  --json           print one JSON object instead of lines\n"
    "  --launcher NAME  the launcher is the file NAME in BUNDLE_DIR\n"
    "  --sums FILE      a SHA256SUMS file (sha256sum's format, names relative to BUNDLE_DIR):\n"
    "                   each listed file must be there with that SHA-256, and no other\n"
    "  --state          tell this host's state for the settings of FILE (- for the standard\n"
    "                   input), without a bundle: installed, recorded, reboot pending\n"
    "  -h, --help       print this text\n"
    "  -V, --version    print the version\n"
    "\n"
    "Exit status: 0 ready (not installed, or installed and the id not recorded), 1 the\n"
    "launcher would not start the installer, 2 installed and recorded, 3 reboot pending,\n"
    "4 unsafe (someone other than an administrator can change what would run as\n"
    "administrator, or the bundle is not the one FILE lists), 64 usage error, 74 an output\n"
    "could not be written, 77 cannot tell (run it as an administrator or root).\n"
    "With --state: 0 not installed, 2 installed (recorded or not), 1 a required setting\n"
    "missing or too long, 64, 74 and 77 as above.\n";

// Everything the program prints goes through here: a failed write is its own exit status.
int Finish(FILE* stream, int status) {
  return fflush(stream) == 0 && ferror(stream) == 0 ? status : kPreflightOutputFailed;
}

int UsageError(const char* message, const char* detail, const char* more = "") {
  fprintf(stderr, "%s: %s%s%s\n", kProgram, message, detail, more);
  return Finish(stderr, kPreflightUsage);
}

// Finds the one launcher in `folder`, or says why there is none.
int FindLauncher(const char* folder, FixedText<kPathCapacity>* launcherFile) {
  ProgramList launchers;
  if (!ListLaunchers(folder, &launchers)) return UsageError("cannot list the folder ", folder);
  if (launchers.count == 1) {
    CopyText(launcherFile, launchers.names[0].text);
    return 0;
  }
  if (launchers.count == 0) {
    return UsageError("no launcher (a program with the launcher's mark) in ", folder,
                      "; name it with --launcher NAME");
  }
  char candidates[kMostListedPrograms * kPathCapacity + 32] = "";
  int shown = launchers.count < kMostListedPrograms ? launchers.count : kMostListedPrograms;
  for (int i = 0; i < shown; ++i) {
    if (i > 0) AppendBounded(candidates, sizeof candidates, ", ");
    AppendBounded(candidates, sizeof candidates, launchers.names[i].text);
  }
  if (launchers.count > shown) AppendBounded(candidates, sizeof candidates, ", ...");
  fprintf(stderr, "%s: more than one launcher in %s: %s; name one with --launcher NAME\n", kProgram,
          folder, candidates);
  return Finish(stderr, kPreflightUsage);
}

// Reads and parses the SHA256SUMS file `path` into `sums`. A file this user may not read is left
// for the report to call unknown; any other that cannot be read or parsed is a usage error.
int ReadSums(const char* path, SumsFile* sums) {
  unsigned char* bytes = nullptr;
  size_t size = 0;
  ShowHostPath(path, sums->shown.text, sizeof sums->shown.text);
  HostFileRead read =
      ReadHostFile(path, &bytes, &size, sums->reason.text, sizeof sums->reason.text);
  if (read == HostFileRead::kDenied) return 0;
  if (read == HostFileRead::kFailed) {
    fprintf(stderr, "%s: cannot read the sums file %s: %s\n", kProgram, path, sums->reason.text);
    return Finish(stderr, kPreflightUsage);
  }
  StagingNote problem;
  bool parsed = ParseSums(bytes, size, &sumsList, &problem);
  ReleaseBuffer(bytes);
  if (!parsed) {
    fprintf(stderr, "%s: the sums file %s is not a SHA256SUMS list: %s\n", kProgram, path,
            problem.text);
    return Finish(stderr, kPreflightUsage);
  }
  sums->list = &sumsList;
  return 0;
}

// A host's state for the settings at `path`, read whole: a file that is not there or cannot be
// read is a usage error, one this user may not read a state that cannot be told.
int ReportState(const char* path, bool json) {
  unsigned char* bytes = nullptr;
  size_t size = 0;
  StagingNote reason;
  HostFileRead read = ReadHostFile(path, &bytes, &size, reason.text, sizeof reason.text);
  if (read == HostFileRead::kFailed) {
    fprintf(stderr, "%s: cannot read the settings file %s: %s\n", kProgram, path, reason.text);
    return Finish(stderr, kPreflightUsage);
  }
  StagingPath shown;
  ShowHostPath(path, shown.text, sizeof shown.text);
  InspectState({shown.text, bytes, size, reason.text}, &report);
  ReleaseBuffer(bytes);
  int status = DecideStateStatus(report);
  if (json) {
    PrintStateJsonReport(report, status, StandardOutput());
  } else {
    PrintStateTextReport(report, status, StandardOutput());
  }
  return Finish(stdout, status);
}

}  // namespace

int main(int argc, char** argv) {
  RestrictLibrarySearch();
  bool json = false;
  const char* given = nullptr;
  const char* named = nullptr;
  const char* sumsPath = nullptr;
  bool state = false;
  const char* settingsPath = nullptr;
  int tailStart = argc;  // the index of "--", whose arguments after it form the command tail
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--") == 0) {
      tailStart = i;
      break;
    }
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      fputs(kHelp, stdout);
      return Finish(stdout, 0);
    }
    if (strcmp(arg, "--version") == 0 || strcmp(arg, "-V") == 0) {
      printf("%s %s\n", kProgram, HOTFIX_VERSION);
      return Finish(stdout, 0);
    }
    if (strcmp(arg, "--json") == 0) {
      json = true;
    } else if (strcmp(arg, "--launcher") == 0) {
      if (++i == argc) return UsageError("--launcher needs a file name", "");
      named = argv[i];
    } else if (strcmp(arg, "--state") == 0) {
      state = true;
    } else if (strcmp(arg, "--settings") == 0) {
      if (++i == argc)
        return UsageError("--settings needs a file, or - for the standard input", "");
      settingsPath = argv[i];
    } else if (strcmp(arg, "--sums") == 0) {
      if (++i == argc) return UsageError("--sums needs a file", "");
      sumsPath = argv[i];
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return UsageError("unknown option ", arg);
    } else if (given != nullptr) {
      return UsageError("more than one folder given: ", arg);
    } else {
      given = arg;
    }
  }

  if (state || settingsPath != nullptr) {
    if (!state) return UsageError("--settings goes with --state", "");
    if (settingsPath == nullptr) {
      return UsageError("--state needs --settings FILE, or --settings - for the standard input",
                        "");
    }
    if (given != nullptr || named != nullptr || sumsPath != nullptr || tailStart < argc) {
      return UsageError("--state takes no BUNDLE_DIR, --launcher, --sums or ARGUMENTS", "");
    }
    return ReportState(settingsPath, json);
  }

  // Room for a folder whose path is too long for the launcher: it runs there all the same, and
  // the report says what it then does.
  static char folder[kHostPathCapacity];
  const char* typed = given != nullptr ? given : "(this program's own)";
  switch (ResolveFolder(given, folder, sizeof folder)) {
    case FolderLookup::kFound:
      break;
    case FolderLookup::kNoFolder:
      return UsageError("no such folder: ", typed);
    case FolderLookup::kOutsideDrives:
      fprintf(stderr,
              "%s: %s lies in no drive folder of the prefix %s (HOTFIX_LAUNCHER_PREFIX), where "
              "no launcher runs\n",
              kProgram, typed, DrivesPrefix());
      return Finish(stderr, kPreflightUsage);
  }
  FixedText<kPathCapacity> launcherFile;
  if (named != nullptr) {
    char modulePath[kHostPathCapacity];
    char runsFrom[kHostPathCapacity];
    if (!CopyText(&launcherFile, named) || strpbrk(named, "\\/") != nullptr ||
        LocateLauncher(folder, named, modulePath, runsFrom, kHostPathCapacity) ==
            LauncherPlace::kMissing) {
      return UsageError("no launcher file ", named, " in the folder");
    }
  } else if (int status = FindLauncher(folder, &launcherFile); status != 0) {
    return status;
  }

  if (sumsPath != nullptr) {
    if (int status = ReadSums(sumsPath, &sums); status != 0) return status;
  }

  size_t tailSize = CommandTailSize(argc - tailStart, argv + tailStart);
  auto* tail = static_cast<char*>(AllocateBuffer(tailSize));
  if (tail == nullptr || !JoinCommandTail(argc - tailStart, argv + tailStart, tail, tailSize)) {
    ReleaseBuffer(tail);
    fprintf(stderr, "%s: out of memory\n", kProgram);
    return Finish(stderr, kPreflightCannotRun);
  }
  InspectBundle({folder, launcherFile.text, tail, sumsPath != nullptr ? &sums : nullptr}, &report);
  ReleaseBuffer(tail);
  int status = DecidePreflightStatus(report);
  if (json) {
    PrintJsonReport(report, status, StandardOutput());
  } else {
    PrintTextReport(report, status, StandardOutput());
  }
  return Finish(stdout, status);
}
