// The Linux entry: main's arguments become the command tail as Windows would have handed it over,
// and the run's exit status is returned (the system keeps its low 8 bits).
#include <cstdlib>

#include "driver/driver.h"
#include "platform/posix/command_line.h"

int main(int argc, char** argv) {
  size_t size = CommandTailSize(argc, argv);
  char* tail = static_cast<char*>(malloc(size));
  // Without its tail the run would install without the switches it was given: refuse it.
  if (tail == nullptr || !JoinCommandTail(argc, argv, tail, size)) {
    free(tail);
    return kRunFailed;
  }
  int status = RunInstall(tail);
  free(tail);
  return status;
}
