// Opening files on Linux without blocking and only as regular files, and reading them whole.
#include "platform/posix/open_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/fixed_text.h"
#include "platform/memory.h"
#include "platform/posix/paths.h"

namespace {

// The owner keeps read and write on every file the launcher makes; the umask decides the rest.
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;

constexpr int kMostLinks = 40;     // as the kernel allows on one path
constexpr int kMostFolders = 128;  // folders deep below the prefix

// Opens `path` (a host path below the prefix) as if the prefix were the root of the file system:
// each folder is opened through the one before it without following links, a symbolic link is
// read and walked on from the prefix (an absolute one) or from its own folder, and ".." never
// climbs above the prefix, so neither a link nor ".." leads out of it, whoever changes the folders
// meanwhile. The last component is opened with `flags`; with O_NOFOLLOW a link there is refused.
int OpenInsidePrefix(const char* path, int flags) {
  const char* prefix = PlatformPrefix();
  size_t prefixLength = strlen(prefix);
  while (prefixLength > 1 && prefix[prefixLength - 1] == '/') --prefixLength;
  if (strncmp(path, prefix, prefixLength) != 0 || path[prefixLength] != '/') {
    errno = EXDEV;
    return -1;
  }
  char pending[2 * PATH_MAX];  // what is left to walk
  if (!CopyBounded(pending, sizeof pending, path + prefixLength)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int folders[kMostFolders];
  int depth = 0;
  folders[0] = open(prefix, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folders[0] < 0) return -1;
  int links = 0;
  int fd = -1;
  size_t at = 0;
  for (;;) {
    while (pending[at] == '/') ++at;
    size_t length = strcspn(pending + at, "/");
    if (length == 0) {
      errno = EISDIR;  // the path names a folder
      break;
    }
    char name[NAME_MAX + 1];
    if (length > NAME_MAX) {
      errno = ENAMETOOLONG;
      break;
    }
    memcpy(name, pending + at, length);
    name[length] = '\0';
    at += length;
    bool last = pending[at + strspn(pending + at, "/")] == '\0';
    if (strcmp(name, ".") == 0) continue;
    if (strcmp(name, "..") == 0) {
      if (depth > 0) close(folders[depth--]);
      continue;
    }
    char target[PATH_MAX];
    ssize_t targetLength = -1;
    if (last) {
      do {
        fd = openat(folders[depth], name, flags | O_NOFOLLOW, kNewFileMode);
      } while (fd < 0 && errno == EINTR);
      // O_PATH opens a link itself rather than failing on it.
      struct stat status;
      bool link = fd >= 0
                      ? (flags & O_PATH) != 0 && fstat(fd, &status) == 0 && S_ISLNK(status.st_mode)
                      : errno == ELOOP;
      if (!link || (flags & O_NOFOLLOW) != 0) break;
      if (fd >= 0) close(fd);
      fd = -1;
      targetLength = readlinkat(folders[depth], name, target, sizeof target);
    } else {
      int next = openat(folders[depth], name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
      struct stat status;
      if (next < 0 || fstat(next, &status) != 0) {
        if (next >= 0) close(next);
        break;
      }
      if (S_ISDIR(status.st_mode) && depth + 1 < kMostFolders) {
        folders[++depth] = next;
        continue;
      }
      if (S_ISLNK(status.st_mode)) targetLength = readlinkat(next, "", target, sizeof target);
      close(next);
      if (!S_ISLNK(status.st_mode)) {
        errno = S_ISDIR(status.st_mode) ? ENAMETOOLONG : ENOTDIR;
        break;
      }
    }
    // A link: its target takes its place, walked from the prefix when it is absolute.
    if (targetLength <= 0 || static_cast<size_t>(targetLength) >= sizeof target ||
        ++links > kMostLinks) {
      if (links > kMostLinks) errno = ELOOP;
      break;
    }
    target[targetLength] = '\0';
    char rest[sizeof pending];
    if (!CopyBounded(rest, sizeof rest, target) || !AppendBounded(rest, sizeof rest, "/") ||
        !AppendBounded(rest, sizeof rest, pending + at) ||
        !CopyBounded(pending, sizeof pending, rest)) {
      errno = ENAMETOOLONG;
      break;
    }
    at = 0;
    if (target[0] == '/') {
      while (depth > 0) close(folders[depth--]);
    }
  }
  int saved = errno;
  while (depth >= 0) close(folders[depth--]);
  errno = saved;
  return fd;
}

int OpenOnce(const char* path, int flags) {
  return OpenInsidePrefix(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
    // A link there, or a file made meanwhile: open it as it is, creating a link's missing target.
    if (fd < 0 && errno == EEXIST) fd = OpenOnce(path, flags);
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

int ResolveInsidePrefix(const char* path, char* resolved, size_t capacity) {
  int fd = OpenInsidePrefix(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return 0;
  char self[32];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  ssize_t length = capacity > 0 ? readlink(self, resolved, capacity - 1) : -1;
  int failure = errno;
  close(fd);
  if (length <= 0 || static_cast<size_t>(length) >= capacity - 1) {
    errno = length < 0 ? failure : ENAMETOOLONG;
    return 0;
  }
  resolved[length] = '\0';
  return 1;
}
