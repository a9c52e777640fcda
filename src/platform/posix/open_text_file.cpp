// The launcher's opens of its text files on Linux: the one place that creates, empties or moves
// to the end of a file, each only once the file is known to be the one meant.
#include <unistd.h>

#include <cerrno>

#include "platform/posix/text_file.h"

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  int fd = OpenTextDescriptor(path, mode);
  if (fd < 0) return nullptr;
  bool usable = true;
  if (mode == TextFileMode::kWriteAtEnd) usable = lseek(fd, 0, SEEK_END) >= 0;
  if (mode == TextFileMode::kCreateEmpty) usable = ftruncate(fd, 0) == 0;
  if (!usable) {
    close(fd);
    errno = EPERM;
    return nullptr;
  }
  return StartTextFile(fd, mode == TextFileMode::kRead);
}
