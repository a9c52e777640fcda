// The dry platform's text files on Linux. A read opens the file as the launcher would and reads it
// for real. An open to write only looks: the file's path is resolved inside the prefix as the
// launcher's open resolves it, an existing file is opened for neither reading nor writing (O_PATH)
// and asked whether this user may write it, and a missing one, or a link whose target is missing,
// is judged by the folder the create would put it in. Nothing is created, emptied or written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/fixed_text.h"
#include "platform/dry/dry_checks.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/text_file.h"

namespace {

constexpr int kMostLinks = 40;  // as the kernel follows on one path

// The errors the launcher's open meets in the same way whoever runs it and whenever: no such file
// or folder, a name too long, a path out of the prefix, not a folder on the way, a link it refuses
// or too many links, a folder or a special file where a file should be, a read-only file system.
constexpr int kDecidingErrors[] = {ENOENT, ENAMETOOLONG, EXDEV, ENOTDIR,
                                   ELOOP,  EISDIR,       ENXIO, EROFS};

FileAccess Failed(int failure, DryReason* reason) {
  DescribeError(static_cast<uint32_t>(failure), reason);
  return ErrorDecides(static_cast<uint32_t>(failure)) ? FileAccess::kCannotOpen
                                                      : FileAccess::kUnknown;
}

// The file that is there: whether this user may write to it, asked of the very file opened.
FileAccess ProbeExisting(int fd, const struct stat& status, bool exposed, DryReason* reason) {
  if (exposed && status.st_nlink > 1) {
    close(fd);
    CopyText(reason, "a file with a second name in a drive's root folder");
    return FileAccess::kCannotOpen;
  }
  char opened[32];
  snprintf(opened, sizeof opened, "/proc/self/fd/%d", fd);
  int writable = faccessat(AT_FDCWD, opened, W_OK, AT_EACCESS);
  int failure = errno;
  close(fd);
  return writable == 0 ? FileAccess::kOpens : Failed(failure, reason);
}

// Where the create would put a missing file at the host path `mapped`: in its folder, resolved
// inside the prefix, when that is there and this user may write to it.
FileAccess ProbeFolder(const char* mapped, DryReason* reason) {
  char folder[kMappedPathCapacity];
  char resolved[kMappedPathCapacity];
  CopyBounded(folder, sizeof folder, mapped);
  *strrchr(folder, '/') = '\0';
  struct stat status;
  if (!ResolveInsidePrefix(folder, resolved, sizeof resolved) || stat(resolved, &status) != 0) {
    return Failed(errno, reason);
  }
  if (!S_ISDIR(status.st_mode)) return Failed(ENOTDIR, reason);
  return faccessat(AT_FDCWD, resolved, W_OK | X_OK, AT_EACCESS) == 0 ? FileAccess::kWouldCreate
                                                                     : Failed(errno, reason);
}

// Replaces the host path `mapped` with the target of the link there, as the create follows it:
// an absolute target from the prefix, a relative one from the link's folder. Returns false when
// no link is there.
bool FollowLink(char* mapped) {
  char folder[kMappedPathCapacity];
  char resolved[kMappedPathCapacity];
  CopyBounded(folder, sizeof folder, mapped);
  char* last = strrchr(folder, '/');
  *last = '\0';
  char link[kMappedPathCapacity];
  char target[kMappedPathCapacity];
  if (!ResolveInsidePrefix(folder, resolved, sizeof resolved) ||
      snprintf(link, sizeof link, "%s/%s", resolved, last + 1) >= static_cast<int>(sizeof link)) {
    return false;
  }
  ssize_t length = readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  int written = target[0] == '/' ? snprintf(link, sizeof link, "%s%s", PlatformPrefix(), target)
                                 : snprintf(link, sizeof link, "%s/%s", folder, target);
  return written < static_cast<int>(sizeof link) && CopyBounded(mapped, kMappedPathCapacity, link);
}

// What OpenTextFile(path, mode) would meet in a writing mode, which creates a missing file: the
// file opens, it would be created, or the open would fail. A link in a drive's root folder, or a
// file there with a second name, is refused as the launcher refuses it.
FileAccess ProbeForWriting(const char* path, DryReason* reason) {
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(path, mapped, sizeof mapped)) return Failed(ENAMETOOLONG, reason);
  bool exposed = IsInDriveRoot(mapped);
  for (int links = 0; links <= kMostLinks; ++links) {
    struct stat status;
    int fd = OpenRegularFile(mapped, O_PATH | (exposed ? O_NOFOLLOW : 0), &status);
    if (fd >= 0) return ProbeExisting(fd, status, exposed, reason);
    if (errno != ENOENT) return Failed(errno, reason);
    if (exposed || !FollowLink(mapped)) return ProbeFolder(mapped, reason);
  }
  return Failed(ELOOP, reason);
}

}  // namespace

bool ErrorDecides(uint32_t code) {
  for (int deciding : kDecidingErrors) {
    if (code == static_cast<uint32_t>(deciding)) return true;
  }
  return false;
}

Lookup LookUpFileToRead(const char* path, DryReason* reason) {
  char mapped[kMappedPathCapacity];
  int failure = ENAMETOOLONG;
  if (MapPlatformPath(path, mapped, sizeof mapped)) {
    int fd = OpenRegularFile(mapped, O_RDONLY);
    if (fd >= 0) {
      close(fd);
      return Lookup::kFound;
    }
    failure = errno;
  }
  DescribeError(static_cast<uint32_t>(failure), reason);
  return ErrorDecides(static_cast<uint32_t>(failure)) ? Lookup::kAbsent : Lookup::kUnknown;
}

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  DryReason reason;
  if (mode != TextFileMode::kRead) {
    FileAccess access = ProbeForWriting(path, &reason);
    NoteFileOpen(path, mode, access, reason);
    return access == FileAccess::kCannotOpen ? nullptr : StartTextFile(-1, true);
  }
  if (RunEmptied(path)) return StartTextFile(-1, true);
  int fd = OpenTextDescriptor(path, mode);
  NoteFileOpen(path, mode, fd >= 0 ? FileAccess::kOpens : Failed(errno, &reason), reason);
  return fd >= 0 ? StartTextFile(fd, true) : nullptr;
}
