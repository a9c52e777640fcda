// The Linux entry: main's arguments become the command tail as Windows would have handed it over,
// and the run's exit status is returned (the system keeps its low 8 bits).
#include <csignal>

#include "common/command_line.h"
#include "driver/driver.h"
#include "launch/launch.h"
#include "platform/memory.h"

int main(int argc, char** argv) {
  // Whatever the parent set must not change the run: the wait sees the installer's end only while
  // SIGCHLD is not ignored, and a write past the file size limit is a failed write (records are
  // dropped, as on a full disk) rather than the launcher's end. The installer gets the defaults.
  signal(SIGCHLD, SIG_DFL);
  signal(SIGXFSZ, SIG_IGN);
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
