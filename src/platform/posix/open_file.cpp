// Opening files on Linux without blocking and only as regular files, and reading them whole.
#include "platform/posix/open_file.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
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
// openat2 answers EAGAIN when a folder was renamed while it resolved "..": it is asked again, and
// after that many answers the path is walked instead.
constexpr int kMostResolveAttempts = 8;

// The prefix's folder, opened at the first open of a run and kept for the process: every open
// resolves from it, so the prefix's own path is looked up once. It stays the prefix's as long as
// the prefix's text (which the host paths start with) stays the same.
struct PrefixFolder {
  char path[PATH_MAX];
  int fd;
};
PrefixFolder prefixFolder = {"", -1};
// Whether the kernel may resolve paths inside the prefix (openat2); false once it answered ENOSYS.
bool kernelResolves = true;

int PrefixDescriptor(const char* prefix) {
  if (prefixFolder.fd >= 0 && strcmp(prefixFolder.path, prefix) == 0) return prefixFolder.fd;
  ForgetPrefixFolder();
  if (!CopyBounded(prefixFolder.path, sizeof prefixFolder.path, prefix)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  prefixFolder.fd = open(prefix, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return prefixFolder.fd;
}

// Opens `below` (relative to the prefix's folder `root`) as if `root` were the root of the file
// system, links and ".." included, by the kernel's own resolution. Returns the descriptor, or -1
// with errno set: ENOSYS or EAGAIN when the caller has to walk the path itself.
int OpenResolvedByKernel(int root, const char* below, int flags) {
  open_how how = {};
  how.flags = static_cast<unsigned>(flags);
  how.mode = (flags & O_CREAT) != 0 ? kNewFileMode : 0;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  long fd = -1;
  for (int attempt = 0; attempt < kMostResolveAttempts; ++attempt) {
    do {
      fd = syscall(SYS_openat2, root, below, &how, sizeof how);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != EAGAIN) break;
  }
  return static_cast<int>(fd);
}

// Opens `below` from the prefix's folder `root` in the same way, where the kernel cannot: each
// folder is opened through the one before it without following links, a symbolic link is read
// and walked on from the prefix (an absolute one) or from its own folder, and ".." never climbs
// above the prefix, so neither a link nor ".." leads out of it, whoever changes the folders
// meanwhile. The last component is opened with `flags`; with O_NOFOLLOW a link there is refused.
int OpenByWalk(int root, const char* below, int flags) {
  char pending[2 * PATH_MAX];  // what is left to walk
  if (!CopyBounded(pending, sizeof pending, below)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int folders[kMostFolders];
  int depth = 0;
  folders[0] = root;
  int links = 0;
  int fd = -1;
  size_t at = 0;
  for (;;) {
    while (pending[at] == '/') ++at;
    size_t length = strcspn(pending + at, "/");
    if (length == 0) {
      // The path ends in a folder (after "/", "." or ".."): that folder is the file to open.
      fd = openat(folders[depth], ".", flags | O_NOFOLLOW, kNewFileMode);
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
    if (!PutLinkTarget(target, pending, sizeof pending, at)) {
      errno = ENAMETOOLONG;
      break;
    }
    at = 0;
    if (target[0] == '/') {
      while (depth > 0) close(folders[depth--]);
    }
  }
  int saved = errno;
  while (depth > 0) close(folders[depth--]);
  errno = saved;
  return fd;
}

// Opens the host path `path`, which lies below the prefix, as if the prefix were the root of the
// file system: by the kernel where it can, else by the walk, which gives the same results.
int OpenInsidePrefix(const char* path, int flags) {
  const char* prefix = PlatformPrefix();
  size_t prefixLength = strlen(prefix);
  while (prefixLength > 1 && prefix[prefixLength - 1] == '/') --prefixLength;
  if (strncmp(path, prefix, prefixLength) != 0 || path[prefixLength] != '/') {
    errno = EXDEV;
    return -1;
  }
  int root = PrefixDescriptor(prefix);
  if (root < 0) return -1;
  const char* below = path + prefixLength;
  while (*below == '/') ++below;
  if (*below == '\0') below = ".";
  if (kernelResolves) {
    int fd = OpenResolvedByKernel(root, below, flags);
    if (fd >= 0 || (errno != ENOSYS && errno != EAGAIN)) return fd;
    kernelResolves = errno != ENOSYS;
  }
  return OpenByWalk(root, below, flags);
}

int OpenOnce(const char* path, int flags) {
  // An O_PATH open never blocks, and openat2 refuses it any flag but a few.
  int extra = (flags & O_PATH) != 0 ? O_CLOEXEC : O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  return OpenInsidePrefix(path, flags | extra);
}

}  // namespace

bool PutLinkTarget(const char* target, char* pending, size_t capacity, size_t at) {
  char rest[2 * PATH_MAX];
  return CopyBounded(rest, sizeof rest, target) && AppendBounded(rest, sizeof rest, "/") &&
         AppendBounded(rest, sizeof rest, pending + at) && CopyBounded(pending, capacity, rest);
}

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
  bool usable = fstat(fd, status) == 0;
  // Anything but a regular file is refused with an errno that says what it is.
  int failure = !usable                     ? errno
                : S_ISDIR(status->st_mode)  ? EISDIR
                : S_ISLNK(status->st_mode)  ? ELOOP
                : !S_ISREG(status->st_mode) ? ENXIO
                                            : 0;
  usable = failure == 0;
  // Should this fail, the file is still the launcher's to use for this run.
  if (usable && created && (status->st_mode & kOwnerReadWrite) != kOwnerReadWrite) {
    fchmod(fd, (status->st_mode & 07777) | kOwnerReadWrite);
  }
  if (failure != 0) {
    close(fd);
    errno = failure;
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

int OpenProgramFile(const char* applicationPath, struct stat* status) {
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(applicationPath, mapped, sizeof mapped)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = OpenInsidePrefix(mapped, O_PATH | O_CLOEXEC);
  if (fd >= 0 && status != nullptr && fstat(fd, status) != 0) {
    int failure = errno;
    close(fd);
    errno = failure;
    return -1;
  }
  return fd;
}

void ForgetPrefixFolder() {
  if (prefixFolder.fd >= 0) close(prefixFolder.fd);
  prefixFolder.fd = -1;
}
