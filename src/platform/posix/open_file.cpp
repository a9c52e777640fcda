// Opening files on Linux without blocking and only as regular files.
#include "platform/posix/open_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The owner keeps read and write on every file the launcher makes; the umask decides the rest.
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;

int OpenOnce(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

int OpenRegularFile(const char* path, int flags, struct stat* status) {
  // A file that is there is opened as it is; only a missing one is created, and then known to be
  // the launcher's own, so that the owner's rights are added to no one else's file.
  bool created = false;
  int fd = OpenOnce(path, flags & ~O_CREAT);
  if (fd < 0 && errno == ENOENT && (flags & O_CREAT) != 0) {
    fd = OpenOnce(path, flags | O_EXCL);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = OpenOnce(path, flags & ~O_CREAT);
  }
  if (fd < 0) return -1;
  struct stat own;
  if (status == nullptr) status = &own;
  bool usable = fstat(fd, status) == 0 && S_ISREG(status->st_mode);
  // Should this fail, the file is still the launcher's to use for this run.
  if (usable && created && (status->st_mode & kOwnerReadWrite) != kOwnerReadWrite) {
    fchmod(fd, (status->st_mode & 07777) | kOwnerReadWrite);
  }
  if (usable) usable = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
  if (!usable) {
    close(fd);
    return -1;
  }
  return fd;
}
