// Text files on Linux in the Windows C runtime's text mode, so that logs read and written by the
// port hold the same bytes as those of the Windows build.
//
// Writing stores every "\n" as CR LF and every other byte (a CR, byte 26) unchanged. Reading
// turns CR LF into "\n" (also when the pair straddles two reads), keeps a lone CR, and takes the
// first byte 26 as the end of the file for good; a NUL byte is an ordinary byte. Each path is
// mapped first (platform/posix/paths.h) and opened inside the prefix (platform/posix/open_file.h),
// links included. The launcher runs privileged, so in a drive's root folder, where anyone may
// plant one, a symbolic link or a file with a second hard link is refused in every mode, checked
// on the opened file before anything is emptied or written: nothing elsewhere is emptied,
// appended to or read through it. Only regular files are used: a directory, a FIFO or a device is
// a file that cannot be opened.
//
// A file starts with a small buffer, which holds any one run-log record whole, and moves to a
// large one once it has filled the small one: the run's short writes then touch little memory,
// and the installer log's merge still reads and writes in large blocks. Writing goes through
// platform/shared/text_output.cpp, which writes whole lines only, each block in one write() on a
// file opened with O_APPEND, so records of launchers running at once never overwrite or split each
// other.
//
// Opening a file to write, which creates, empties or moves to its end, is the launcher's alone
// (open_text_file.cpp); what follows the open is shared with the dry platform, which only reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/fixed_text.h"
#include "platform/memory.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/text_file.h"
#include "platform/shared/text_output.h"

namespace {

constexpr size_t kSmallBufferSize = 4 * 1024;
// Large blocks save system calls.
constexpr size_t kLargeReadBufferSize = 64 * 1024;
constexpr unsigned char kEndOfFileByte = 26;

// Sixteen bytes compared at once (a vector type of GCC and Clang, lowered to the target's SIMD).
using Lanes = unsigned char __attribute__((vector_size(16)));

}  // namespace

struct TextFile {
  int fd;
  bool reading;
  bool ended;           // reading: end of file, byte 26 or a read error seen; nothing more is read
  size_t next;          // reading: first unread byte in `data`
  size_t end;           // reading: end of the bytes read into `data`
  size_t capacity;      // of `data`
  unsigned char* data;  // `small`, or a large heap buffer once the file has filled `small`
  TextOutput output;    // writing, which starts in `small` too
  unsigned char small[kSmallBufferSize];
};

namespace {

int OpenFlags(TextFileMode mode) {
  switch (mode) {
    case TextFileMode::kAppend:
      return O_WRONLY | O_APPEND | O_CREAT;
    case TextFileMode::kWriteAtEnd:
    case TextFileMode::kCreateEmpty:  // emptied once the file is known to be the one meant
      return O_WRONLY | O_CREAT;
    case TextFileMode::kRead:
      break;
  }
  return O_RDONLY;
}

// Moves the file to a large read buffer, keeping the bytes in `data`; stays with the small one
// when no large one can be had.
void Enlarge(TextFile* file) {
  if (file->data != file->small) return;
  auto* large = static_cast<unsigned char*>(AllocateBuffer(kLargeReadBufferSize));
  if (large == nullptr) return;
  memcpy(large, file->small, file->end);
  file->data = large;
  file->capacity = kLargeReadBufferSize;
}

// Reads the next block once everything before it has been used; returns false at the end.
bool Refill(TextFile* file) {
  if (file->ended) return false;
  if (file->end == file->capacity) Enlarge(file);  // the last read filled the buffer
  ssize_t got;
  do {
    got = read(file->fd, file->data, file->capacity);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    file->ended = true;
    return false;
  }
  file->next = 0;
  file->end = static_cast<size_t>(got);
  return true;
}

bool IsSpecial(unsigned char byte) {
  return byte == '\n' || byte == '\r' || byte == kEndOfFileByte;
}

Lanes Splat(unsigned char byte) {
  Lanes lanes;
  memset(&lanes, byte, sizeof lanes);
  return lanes;
}

// The index of the first lane that is set in eight lanes read as one number.
size_t FirstLane(uint64_t lanes) {
  int zeros = std::endian::native == std::endian::little ? std::countr_zero(lanes)
                                                         : std::countl_zero(lanes);
  return static_cast<size_t>(zeros) / 8;
}

// Counts the bytes at the start of `from` that are neither a line feed, a CR nor byte 26, at most
// `length`, sixteen at a time: the installer log's merge spends most of its time here.
size_t CountPlainBytes(const unsigned char* from, size_t length) {
  const Lanes lineFeeds = Splat('\n');
  const Lanes carriageReturns = Splat('\r');
  const Lanes endOfFileBytes = Splat(kEndOfFileByte);
  size_t at = 0;
  for (; at + sizeof(Lanes) <= length; at += sizeof(Lanes)) {
    Lanes bytes;
    memcpy(&bytes, from + at, sizeof bytes);
    auto hits = (bytes == lineFeeds) | (bytes == carriageReturns) | (bytes == endOfFileBytes);
    uint64_t halves[2];
    memcpy(halves, &hits, sizeof halves);
    if (halves[0] != 0) return at + FirstLane(halves[0]);
    if (halves[1] != 0) return at + 8 + FirstLane(halves[1]);
  }
  while (at < length && !IsSpecial(from[at])) ++at;
  return at;
}

}  // namespace

int OpenTextDescriptor(const char* path, TextFileMode mode) {
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(path, mapped, sizeof mapped)) return -1;
  // Anyone may put a link into a drive's root folder: a file there is used only when it is no
  // link and has no other name, so that nothing elsewhere is emptied, appended to or read.
  bool exposed = IsInDriveRoot(mapped);
  struct stat status;
  int fd = OpenRegularFile(mapped, OpenFlags(mode) | (exposed ? O_NOFOLLOW : 0), &status);
  if (fd >= 0 && exposed && status.st_nlink > 1) {
    close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

TextFile* StartTextFile(int fd, bool reading) {
  auto* file = static_cast<TextFile*>(AllocateBuffer(sizeof(TextFile)));
  if (file == nullptr) {
    if (fd >= 0) close(fd);
    return nullptr;
  }
  file->fd = fd;
  file->reading = reading;
  // A file without a descriptor has nothing to read, and takes no writes as a reading one.
  file->ended = fd < 0;
  file->capacity = kSmallBufferSize;
  file->data = file->small;
  StartTextOutput(&file->output, file->small, sizeof file->small);
  return file;
}

int ReadTextLine(TextFile* file, char* buffer, int capacity) {
  if (file == nullptr || capacity <= 0) return 0;
  size_t room = static_cast<size_t>(capacity) - 1;
  size_t copied = 0;
  while (file->reading && copied < room && !file->ended) {
    if (file->next == file->end && !Refill(file)) break;
    size_t available = file->end - file->next;
    if (available > room - copied) available = room - copied;
    size_t plain = CountPlainBytes(file->data + file->next, available);
    memcpy(buffer + copied, file->data + file->next, plain);
    copied += plain;
    file->next += plain;
    if (plain == available) continue;
    unsigned char special = file->data[file->next];
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

bool WriteFileBytes(TextFile* file, const unsigned char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(file->fd, bytes, count);
    if (written > 0) {
      bytes += written;
      count -= static_cast<size_t>(written);
    } else if (written == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

void WriteText(TextFile* file, const char* text) {
  if (file != nullptr && !file->reading) PutText(file, &file->output, text);
}

void CloseTextFile(TextFile* file) {
  if (file == nullptr) return;
  if (!file->reading) EndTextOutput(file, &file->output);
  if (file->fd >= 0) close(file->fd);
  if (file->data != file->small) ReleaseBuffer(file->data);
  ReleaseBuffer(file);
}
