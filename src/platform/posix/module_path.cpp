// The executable's path from /proc/self/exe.
#include "platform/module_path.h"

#include <unistd.h>

void ReadModulePath(char* buffer, int capacity) {
  if (capacity <= 0) return;
  ssize_t length = readlink("/proc/self/exe", buffer, static_cast<size_t>(capacity) - 1);
  buffer[length < 0 ? 0 : length] = '\0';
}
