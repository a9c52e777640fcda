// An example hotfix installer for the demo bundle and the end-to-end tests, driven by its switches:
//   /log:PATH       where to write its log: the bytes of installer-log.bin beside it when that file
//                   exists, else one line that lists the arguments it received;
//   /no-log         writes no log, whatever /log: says;
//   /delete-log     deletes the log it was told to write (after writing it);
//   /mark           marks the hotfix installed in the registry;
//   /uninstall      removes that mark (the value /mark sets), as a back-out of the hotfix;
//   /spawn:MS       starts a copy of itself that outlives it: the copy sleeps, then creates
//                   spawned.done beside the installer;
//   /close-streams  closes its standard input, output and error;
//   /sleep:MS       sleeps before it ends;
//   /kill-self:N    raises signal N (on Linux the installer then ends by that signal);
//   /exit:N         ends with exit code N (0 by default).
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "installer_host.h"

namespace {

constexpr char kSpawnedSwitch[] = "/spawned:";  // what the copy started by /spawn: is given

std::string BesideInstaller(const std::string& ownPath, const char* name) {
  size_t separator = ownPath.find_last_of("\\/");
  return ownPath.substr(0, separator + 1) + name;
}

void WriteLog(const char* logPath, const std::string& ownPath, int argc, char** argv) {
  FILE* log = OpenRaw(logPath, "wb");
  if (log == nullptr) return;
  if (FILE* source = OpenRaw(BesideInstaller(ownPath, "installer-log.bin").c_str(), "rb")) {
    static char buffer[1 << 20];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, source)) > 0) fwrite(buffer, 1, count, log);
    fclose(source);
  } else {
    fputs("installer arguments:", log);
    for (int i = 1; i < argc; ++i) fprintf(log, " [%s]", argv[i]);
    fputs("\r\n", log);
  }
  fclose(log);
}

bool HasSwitch(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strncmp(argv[1], kSpawnedSwitch, strlen(kSpawnedSwitch)) == 0) {
    SleepMilliseconds(static_cast<unsigned>(atol(argv[1] + strlen(kSpawnedSwitch))));
    if (FILE* done = OpenRaw(BesideInstaller(argv[0], "spawned.done").c_str(), "wb")) fclose(done);
    return 0;
  }
  bool writesLog = !HasSwitch(argc, argv, "/no-log");
  const char* logPath = nullptr;
  long exitCode = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strncmp(arg, "/log:", 5) == 0) {
      logPath = arg + 5;
      if (writesLog) WriteLog(logPath, argv[0], argc, argv);
    }
    if (strcmp(arg, "/delete-log") == 0 && logPath != nullptr) RemoveRaw(logPath);
    if (strcmp(arg, "/mark") == 0) MarkInstalled();
    if (strcmp(arg, "/uninstall") == 0) UnmarkInstalled();
    if (strncmp(arg, "/spawn:", 7) == 0) {
      StartCopyOfSelf(argv[0], (kSpawnedSwitch + std::string(arg + 7)).c_str());
    }
    if (strcmp(arg, "/close-streams") == 0) {
      fclose(stdin);
      fclose(stdout);
      fclose(stderr);
    }
    if (strncmp(arg, "/sleep:", 7) == 0) SleepMilliseconds(static_cast<unsigned>(atol(arg + 7)));
    if (strncmp(arg, "/kill-self:", 11) == 0) raise(atoi(arg + 11));
    if (strncmp(arg, "/exit:", 6) == 0) exitCode = strtol(arg + 6, nullptr, 10);
  }
  return static_cast<int>(exitCode);
}
