// Text files on Linux in the Windows C runtime's text mode, so that logs read and written by the
// port hold the same bytes as those of the Windows build.
//
// Writing stores every "\n" as CR LF and every other byte (a CR, byte 26) unchanged. Reading
// turns CR LF into "\n" (also when the pair straddles two reads), keeps a lone CR, and takes the
// first byte 26 as the end of the file for good; a NUL byte is an ordinary byte. Each path is
// mapped first (platform/posix/paths.h). The launcher runs privileged, so a symbolic link as the
// last component of a path is refused in every mode: nothing elsewhere is emptied, appended to or
// read through a planted link. A directory is refused in every mode too.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "platform/memory.h"
#include "platform/posix/paths.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr unsigned char kEndOfFileByte = 26;
constexpr mode_t kNewFileMode = 0644;  // the umask still applies

}  // namespace

struct TextFile {
  int fd;
  bool reading;
  bool ended;   // reading: end of file, byte 26 or a read error seen; nothing more is read
  bool failed;  // writing: a write failed; what follows is dropped, as the caller is not told
  size_t next;  // reading: first unread byte in `data`
  size_t end;   // reading: end of the bytes read into `data`; writing: bytes waiting in `data`
  unsigned char data[kBufferSize];
};

namespace {

int OpenFlags(TextFileMode mode) {
  const int always = O_NOFOLLOW | O_CLOEXEC;
  switch (mode) {
    case TextFileMode::kAppend:
      return always | O_WRONLY | O_APPEND | O_CREAT;
    case TextFileMode::kWriteAtEnd:
      return always | O_WRONLY | O_CREAT;
    case TextFileMode::kCreateEmpty:
      return always | O_WRONLY | O_CREAT | O_TRUNC;
    case TextFileMode::kRead:
      break;
  }
  return always | O_RDONLY;
}

int OpenDescriptor(const char* path, TextFileMode mode) {
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(path, mapped, sizeof mapped)) return -1;
  int fd;
  do {
    fd = open(mapped, OpenFlags(mode), kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  // Opening for writing already fails on a directory; opening for reading does not.
  struct stat status;
  bool usable =
      mode != TextFileMode::kRead || (fstat(fd, &status) == 0 && !S_ISDIR(status.st_mode));
  if (usable && mode == TextFileMode::kWriteAtEnd) usable = lseek(fd, 0, SEEK_END) >= 0;
  if (!usable) {
    close(fd);
    return -1;
  }
  return fd;
}

// Writes out the waiting bytes; after a failure everything written to the file is dropped.
void Flush(TextFile* file) {
  size_t done = 0;
  while (!file->failed && done < file->end) {
    ssize_t written = write(file->fd, file->data + done, file->end - done);
    if (written > 0) {
      done += static_cast<size_t>(written);
    } else if (written == 0 || errno != EINTR) {
      file->failed = true;
    }
  }
  file->end = 0;
}

// Reads the next block once everything before it has been used; returns false at the end.
bool Refill(TextFile* file) {
  if (file->ended) return false;
  ssize_t got;
  do {
    got = read(file->fd, file->data, kBufferSize);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    file->ended = true;
    return false;
  }
  file->next = 0;
  file->end = static_cast<size_t>(got);
  return true;
}

}  // namespace

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  int fd = OpenDescriptor(path, mode);
  if (fd < 0) return nullptr;
  auto* file = static_cast<TextFile*>(AllocateBuffer(sizeof(TextFile)));
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  file->fd = fd;
  file->reading = mode == TextFileMode::kRead;
  return file;
}

int ReadTextLine(TextFile* file, char* buffer, int capacity) {
  if (file == nullptr || capacity <= 0) return 0;
  size_t room = static_cast<size_t>(capacity) - 1;
  size_t copied = 0;
  while (file->reading && copied < room && !file->ended) {
    if (file->next == file->end && !Refill(file)) break;
    const unsigned char* from = file->data + file->next;
    size_t available = file->end - file->next;
    if (available > room - copied) available = room - copied;
    size_t plain = 0;
    while (plain < available) {
      unsigned char byte = from[plain];
      if (byte == '\n' || byte == '\r' || byte == kEndOfFileByte) break;
      buffer[copied + plain] = static_cast<char>(byte);
      ++plain;
    }
    copied += plain;
    file->next += plain;
    if (plain == available) continue;
    unsigned char special = from[plain];
    if (special == kEndOfFileByte) {
      file->ended = true;
      break;
    }
    ++file->next;
    if (special == '\n') {
      buffer[copied++] = '\n';
      break;
    }
    // A CR is dropped only when a line feed follows it, which may lie in the next block.
    if (file->next == file->end) Refill(file);
    if (file->next < file->end && file->data[file->next] == '\n') {
      ++file->next;
      buffer[copied++] = '\n';
      break;
    }
    buffer[copied++] = '\r';
  }
  buffer[copied] = '\0';
  return copied > 0 ? 1 : 0;
}

void WriteText(TextFile* file, const char* text) {
  if (file == nullptr || file->reading) return;
  for (const char* at = text; *at != '\0'; ++at) {
    if (file->end + 2 > kBufferSize) Flush(file);
    if (*at == '\n') file->data[file->end++] = '\r';
    file->data[file->end++] = static_cast<unsigned char>(*at);
  }
}

void CloseTextFile(TextFile* file) {
  if (file == nullptr) return;
  if (!file->reading) Flush(file);
  close(file->fd);
  ReleaseBuffer(file);
}
