// The executable's path as a Windows path: /proc/self/exe must name a file in a drive folder of
// the prefix, which becomes "X:\...", as GetModuleFileNameA would give it on Windows.
#include "platform/module_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "platform/posix/paths.h"

void ReadModulePath(char* buffer, int capacity) {
  if (capacity <= 0) return;
  buffer[0] = '\0';
  char host[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", host, sizeof host);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof host) return;
  host[length] = '\0';
  // A launcher deleted or replaced since it started no longer lies at that path (the kernel then
  // names it "... (deleted)"): there is no folder of its own to read.
  struct stat named;
  struct stat running;
  if (stat(host, &named) != 0 || stat("/proc/self/exe", &running) != 0 ||
      named.st_dev != running.st_dev || named.st_ino != running.st_ino) {
    return;
  }
  char path[kMappedPathCapacity];
  if (!WindowsPathOfHostPath(host, path, sizeof path) ||
      strlen(path) >= static_cast<size_t>(capacity)) {
    return;
  }
  memcpy(buffer, path, strlen(path) + 1);
}
