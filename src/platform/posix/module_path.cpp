// The executable's path as a Windows path: /proc/self/exe must name a file in a drive folder of
// the prefix, which becomes "X:\...", as GetModuleFileNameA would give it on Windows.
#include "platform/module_path.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "platform/posix/paths.h"

void ReadModulePath(char* buffer, int capacity) {
  if (capacity <= 0) return;
  buffer[0] = '\0';
  char host[PATH_MAX];
  if (!ReadOwnHostPath(host, sizeof host)) return;
  size_t length = strlen(host);
  // A launcher deleted since it started is named "<path> (deleted)": it no longer has a folder
  // of its own to read.
  static constexpr char kDeleted[] = " (deleted)";
  size_t suffix = sizeof kDeleted - 1;
  struct stat named;
  if ((length >= suffix && strcmp(host + length - suffix, kDeleted) == 0) ||
      stat(host, &named) != 0) {
    return;
  }
  if (!WindowsPathOfHostPath(host, buffer, static_cast<size_t>(capacity))) buffer[0] = '\0';
}
