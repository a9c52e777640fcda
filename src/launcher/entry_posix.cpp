// The Linux entry: main's arguments become the command tail as Windows would have handed it over,
// and the run's exit status is returned (the system keeps its low 8 bits). The launcher runs only
// from a drive folder of the prefix, where its own path is a Windows path.
#include <climits>
#include <csignal>
#include <cstdio>

#include "common/command_line.h"
#include "driver/driver.h"
#include "launch/launch.h"
#include "platform/memory.h"
#include "platform/posix/paths.h"

int main(int argc, char** argv) {
  // Whatever the parent set must not change the run: the wait sees the installer's end only while
  // SIGCHLD is not ignored, and a write past the file size limit is a failed write (records are
  // dropped, as on a full disk) rather than the launcher's end. The installer gets the defaults.
  signal(SIGCHLD, SIG_DFL);
  signal(SIGXFSZ, SIG_IGN);
  // Anywhere else (the installed copy in /usr/lib, say) it has no bundle of its own: a run would
  // only empty the prefix's installer log and write a record that belongs to no bundle into its
  // run log. It says so on standard error instead and touches nothing.
  char self[PATH_MAX];
  if (!ReadOwnHostPath(self, sizeof self)) {
    fprintf(stderr,
            "hotfix-launcher: cannot read its own path from /proc/self/exe to find its bundle in a "
            "drive folder of the prefix %s (HOTFIX_LAUNCHER_PREFIX); nothing was changed\n",
            PlatformPrefix());
    return kRunFailed;
  }
  if (!IsInDriveFolder(self)) {
    fprintf(
        stderr,
        "hotfix-launcher: %s lies in no drive folder of the prefix %s (HOTFIX_LAUNCHER_PREFIX); "
        "nothing was changed: run a copy of it in a hotfix bundle there, such as "
        "%s/drive_c/hotfix/KB5001234/setup\n",
        self, PlatformPrefix(), PlatformPrefix());
    return kRunFailed;
  }
  size_t size = CommandTailSize(argc, argv);
  auto* tail = static_cast<char*>(AllocateBuffer(size));
  // Without its tail the run would install without the switches it was given: refuse it.
  if (tail == nullptr || !JoinCommandTail(argc, argv, tail, size)) {
    ReleaseBuffer(tail);
    return kRunFailed;
  }
  int status = RunInstall(tail);
  ReleaseBuffer(tail);
  return status;
}
