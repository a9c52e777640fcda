// The preflight's folders on Linux: a folder typed as a host path is named by its Windows path in
// the prefix's drives, as a launcher there names its own; a launcher is a file this user may
// execute that carries the ELF note the build puts into it (cmake/program_note.c.in), and it runs
// from where the system's links lead, as /proc/self/exe shows it.
#include "platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/memory.h"
#include "platform/posix/code_page_1252.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/process.h"

namespace {

// The note's owner and type, and the descriptions that tell the two programs apart.
constexpr char kNoteOwner[] = "hotfix-launcher";
constexpr uint32_t kProgramNoteType = 1;
constexpr uint32_t kVersionNoteType = 2;
constexpr char kLauncherMark[] = "hotfix-launcher";

size_t Aligned(size_t size) { return (size + 3) & ~size_t{3}; }

// Finds the program note of type `type` in `notes` and copies its description (NUL-terminated,
// cut to capacity) into `description`.
bool FindNote(const unsigned char* notes, size_t size, uint32_t type, char* description,
              size_t capacity) {
  size_t at = 0;
  while (at + sizeof(ElfW(Nhdr)) <= size) {
    ElfW(Nhdr) note;
    memcpy(&note, notes + at, sizeof note);
    size_t name = at + sizeof note;
    size_t text = name + Aligned(note.n_namesz);
    at = text + Aligned(note.n_descsz);
    if (at > size) break;
    if (note.n_type == type && note.n_namesz == sizeof kNoteOwner &&
        memcmp(notes + name, kNoteOwner, sizeof kNoteOwner) == 0) {
      size_t length = strnlen(reinterpret_cast<const char*>(notes + text), note.n_descsz);
      if (length >= capacity) length = capacity - 1;
      memcpy(description, notes + text, length);
      description[length] = '\0';
      return true;
    }
  }
  return false;
}

// Copies the description of the program note of type `type` that the ELF program open at `fd`
// carries in a note segment.
bool ReadNote(int fd, uint32_t type, char* description, size_t capacity) {
  ElfW(Ehdr) header;
  if (pread(fd, &header, sizeof header, 0) != sizeof header ||
      memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_phentsize != sizeof(ElfW(Phdr))) {
    return false;
  }
  for (int i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment;
    off_t at = static_cast<off_t>(header.e_phoff + static_cast<size_t>(i) * sizeof segment);
    if (pread(fd, &segment, sizeof segment, at) != sizeof segment) return false;
    if (segment.p_type != PT_NOTE || segment.p_filesz > 4096) continue;
    unsigned char notes[4096];
    size_t size = segment.p_filesz;
    if (pread(fd, notes, size, static_cast<off_t>(segment.p_offset)) ==
            static_cast<ssize_t>(size) &&
        FindNote(notes, size, type, description, capacity)) {
      return true;
    }
  }
  return false;
}

// Whether the ELF program open at `fd` carries the program note `mark`.
bool CarriesMark(int fd, const char* mark) {
  char found[32];
  return ReadNote(fd, kProgramNoteType, found, sizeof found) && strcmp(found, mark) == 0;
}

}  // namespace

FolderLookup ResolveFolder(const char* given, char* path, int capacity) {
  path[0] = '\0';
  char typed[PATH_MAX];
  if (given == nullptr) {
    if (!ReadOwnHostPath(typed, sizeof typed)) return FolderLookup::kNoFolder;
    *strrchr(typed, '/') = '\0';
    given = typed[0] != '\0' ? typed : "/";
  }
  char host[PATH_MAX + 1];
  struct stat status;
  if (realpath(given, host) == nullptr || stat(host, &status) != 0 || !S_ISDIR(status.st_mode)) {
    return FolderLookup::kNoFolder;
  }
  if (!IsInDriveFolder(host)) return FolderLookup::kOutsideDrives;
  // With its separator, a drive's own folder becomes "X:\" and any other "X:\...\".
  if (strcmp(host, "/") != 0) strcat(host, "/");
  return WindowsPathOfHostPath(host, path, static_cast<size_t>(capacity)) ? FolderLookup::kFound
                                                                          : FolderLookup::kNoFolder;
}

const char* DrivesPrefix() { return PlatformPrefix(); }

int ListLaunchers(const char* folder, ProgramList* list) {
  list->count = 0;
  char mapped[kMappedPathCapacity];
  char host[kMappedPathCapacity];
  if (!MapPlatformPath(folder, mapped, sizeof mapped) ||
      !ResolveInsidePrefix(mapped, host, sizeof host)) {
    return 0;
  }
  DIR* entries = opendir(host);
  if (entries == nullptr) return 0;
  while (dirent* entry = readdir(entries)) {
    struct stat status;
    char name[260];
    if (fstatat(dirfd(entries), entry->d_name, &status, 0) != 0 || !S_ISREG(status.st_mode) ||
        faccessat(dirfd(entries), entry->d_name, X_OK, AT_EACCESS) != 0 ||
        !AnsiOfUtf8(entry->d_name, name, sizeof name)) {
      continue;
    }
    int fd = openat(dirfd(entries), entry->d_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    bool launcher = fd >= 0 && CarriesMark(fd, kLauncherMark);
    if (fd >= 0) close(fd);
    if (!launcher) continue;
    if (list->count < kMostListedPrograms) CopyText(&list->names[list->count], name);
    ++list->count;
  }
  closedir(entries);
  return 1;
}

LauncherPlace LocateLauncher(const char* folder, const char* name, char* modulePath, char* runsFrom,
                             int capacity) {
  size_t room = static_cast<size_t>(capacity);
  CopyBounded(modulePath, room, "");
  CopyBounded(runsFrom, room, "");
  char path[kMappedPathCapacity];
  char mapped[kMappedPathCapacity];
  char host[PATH_MAX];
  if (!CopyBounded(path, sizeof path, folder) || !AppendBounded(path, sizeof path, name) ||
      !MapPlatformPath(path, mapped, sizeof mapped) || realpath(mapped, host) == nullptr) {
    return LauncherPlace::kMissing;
  }
  if (!AnsiOfUtf8(host, runsFrom, room)) CopyBounded(runsFrom, room, "");
  if (!IsInDriveFolder(host)) return LauncherPlace::kOutsideDrives;
  if (!WindowsPathOfHostPath(host, path, sizeof path)) return LauncherPlace::kInDrive;
  CopyBounded(modulePath, room, path);
  return LauncherPlace::kInDrive;
}

int ReadProgramVersion(const char* folder, const char* name,
                       FixedText<kProgramVersionCapacity>* version) {
  CopyText(version, "");
  char path[kMappedPathCapacity];
  char mapped[kMappedPathCapacity];
  if (!CopyBounded(path, sizeof path, folder) || !AppendBounded(path, sizeof path, name) ||
      !MapPlatformPath(path, mapped, sizeof mapped)) {
    return 0;
  }
  // The program the system would run: links followed, as its start follows them.
  int fd = open(mapped, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  bool found = fd >= 0 && ReadNote(fd, kVersionNoteType, version->text, sizeof version->text);
  if (fd >= 0) close(fd);
  if (!found) CopyText(version, "");
  return found;
}

int LocateHostPath(const char* path, char* hostPath, int capacity) {
  size_t room = static_cast<size_t>(capacity);
  CopyBounded(hostPath, room, "");
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(path, mapped, sizeof mapped)) return 0;
  char folder[kMappedPathCapacity];
  char resolved[kMappedPathCapacity];
  CopyBounded(folder, sizeof folder, mapped);
  char* last = strrchr(folder, '/');
  if (last != nullptr) *last = '\0';
  const char* found = mapped;
  if (last != nullptr && ResolveInsidePrefix(folder, resolved, sizeof resolved) &&
      AppendBounded(resolved, sizeof resolved, "/") &&
      AppendBounded(resolved, sizeof resolved, last + 1)) {
    found = resolved;
  }
  // Host names are UTF-8 and the report takes code page 1252 text: a folder reached through a
  // link whose name 1252 cannot hold is shown by the path as mapped.
  if (AnsiOfUtf8(found, hostPath, room) ||
      (found != mapped && AnsiOfUtf8(mapped, hostPath, room))) {
    return 1;
  }
  CopyBounded(hostPath, room, "");
  return 0;
}

int ReadFreeSpace(const char* folder, uint64_t* bytes) {
  char mapped[kMappedPathCapacity];
  char resolved[kMappedPathCapacity];
  struct statvfs space;
  if (!MapPlatformPath(folder, mapped, sizeof mapped) ||
      !ResolveInsidePrefix(mapped, resolved, sizeof resolved) || statvfs(resolved, &space) != 0) {
    return 0;
  }
  *bytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
  return 1;
}

void ShowHostPath(const char* path, char* text, size_t capacity) {
  if (capacity == 0 || AnsiOfUtf8(path, text, capacity)) return;
  size_t out = 0;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(path);
       *at != '\0' && out + 1 < capacity; ++at) {
    if (*at < 0x80) {
      text[out++] = static_cast<char>(*at);
    } else if ((*at & 0xC0) != 0x80) {
      text[out++] = '?';
    }
  }
  text[out] = '\0';
}

HostFileRead ReadHostFile(const char* path, unsigned char** bytes, size_t* size, char* reason,
                          size_t capacity) {
  *bytes = nullptr;
  *size = 0;
  bool input = strcmp(path, "-") == 0;
  int fd = input ? STDIN_FILENO : open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status;
  int failure = fd < 0 || fstat(fd, &status) != 0 ? errno : 0;
  const char* wrong = nullptr;
  if (failure == 0 && !input && !S_ISREG(status.st_mode)) wrong = "not a regular file";
  // A buffer that grows as the bytes come, the standard input's included, up to the limit.
  size_t room = 0;
  while (failure == 0 && wrong == nullptr) {
    if (*size == room) {
      size_t grown = room == 0 ? 1 << 16 : 2 * room;
      if (room > kMostReadFileBytes) break;
      auto* larger = static_cast<unsigned char*>(ResizeBuffer(*bytes, room + 1, grown + 1));
      if (larger == nullptr) {
        failure = ENOMEM;
        break;
      }
      *bytes = larger;
      room = grown;
    }
    ssize_t got = read(fd, *bytes + *size, room - *size);
    if (got == 0) break;
    if (got > 0) *size += static_cast<size_t>(got);
    if (got < 0 && errno == EAGAIN) {
      // A standard input left non-blocking: wait for its bytes rather than spin.
      pollfd ready = {fd, POLLIN, 0};
      poll(&ready, 1, -1);
    } else if (got < 0 && errno != EINTR) {
      failure = errno;
    }
  }
  char tooLarge[64];
  snprintf(tooLarge, sizeof tooLarge, "larger than %zu bytes", kMostReadFileBytes);
  if (wrong == nullptr && failure == 0 && *size > kMostReadFileBytes) wrong = tooLarge;
  if (fd >= 0 && !input) close(fd);
  if (failure == 0 && wrong == nullptr && *bytes != nullptr) return HostFileRead::kRead;
  ReleaseBuffer(*bytes);
  *bytes = nullptr;
  if (wrong != nullptr) {
    CopyBounded(reason, capacity, wrong);
    return HostFileRead::kFailed;
  }
  ErrorText described;
  DescribeError(static_cast<uint32_t>(failure), &described);
  CopyBounded(reason, capacity, described.text);
  return failure == EACCES || failure == EPERM ? HostFileRead::kDenied : HostFileRead::kFailed;
}
