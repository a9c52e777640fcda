// Opening files on Linux without blocking and only as regular files, and reading them whole.
#include "platform/posix/open_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/memory.h"

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

unsigned char* ReadRegularFile(const char* path, size_t* size) {
  struct stat status;
  int fd = OpenRegularFile(path, O_RDONLY, &status);
  if (fd < 0) return nullptr;
  size_t capacity = static_cast<size_t>(status.st_size);
  auto* contents = static_cast<unsigned char*>(AllocateBuffer(capacity + 1));
  size_t used = 0;
  while (contents != nullptr && used < capacity) {
    ssize_t got = read(fd, contents + used, capacity - used);
    if (got > 0) {
      used += static_cast<size_t>(got);
    } else if (got == 0) {
      break;  // the file shrank while it was read
    } else if (errno != EINTR) {
      ReleaseBuffer(contents);
      contents = nullptr;
    }
  }
  close(fd);
  *size = used;
  return contents;
}
