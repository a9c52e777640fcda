// Opening files on Linux without blocking and only as regular files.
#include "platform/posix/open_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr mode_t kNewFileMode = 0644;  // the umask still applies

}  // namespace

int OpenRegularFile(const char* path, int flags, struct stat* status) {
  int fd;
  do {
    fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat own;
  if (status == nullptr) status = &own;
  bool usable = fstat(fd, status) == 0 && S_ISREG(status->st_mode);
  if (usable) usable = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
  if (!usable) {
    close(fd);
    return -1;
  }
  return fd;
}
