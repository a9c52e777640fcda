// The preflight's folders on Linux: a folder typed as a host path is named by its Windows path in
// the prefix's drives, as a launcher there names its own; program files are the regular files this
// user may execute, with their names as code page 1252 text.
#include "platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/posix/code_page_1252.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"

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
  // With its separator, a drive's own folder becomes "X:\" and any other "X:\...\".
  if (strcmp(host, "/") != 0) strcat(host, "/");
  return WindowsPathOfHostPath(host, path, static_cast<size_t>(capacity))
             ? FolderLookup::kFound
             : FolderLookup::kOutsideDrives;
}

int ListProgramFiles(const char* folder, const char* except, ProgramList* list) {
  list->count = 0;
  char mapped[kMappedPathCapacity];
  char host[kMappedPathCapacity];
  if (!MapPlatformPath(folder, mapped, sizeof mapped) ||
      !ResolveInsidePrefix(mapped, host, sizeof host)) {
    return 0;
  }
  DIR* entries = opendir(host);
  if (entries == nullptr) return 0;
  char own[PATH_MAX];
  struct stat self;
  bool selfKnown = ReadOwnHostPath(own, sizeof own) && stat(own, &self) == 0;
  while (dirent* entry = readdir(entries)) {
    struct stat status;
    char name[260];
    if (fstatat(dirfd(entries), entry->d_name, &status, 0) != 0 || !S_ISREG(status.st_mode) ||
        faccessat(dirfd(entries), entry->d_name, X_OK, AT_EACCESS) != 0 ||
        (selfKnown && status.st_dev == self.st_dev && status.st_ino == self.st_ino) ||
        !AnsiOfUtf8(entry->d_name, name, sizeof name) || strcmp(name, except) == 0) {
      continue;
    }
    if (list->count < kMostListedPrograms) CopyText(&list->names[list->count], name);
    ++list->count;
  }
  closedir(entries);
  return 1;
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
