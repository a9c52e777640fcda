// Text files: read through the C runtime's own text-mode streams, written through a handle of our
// own with the text-mode conversion of platform/shared/text_output.cpp, so that each record reaches
// the file in one write. Every file is opened with sharing for other readers and writers, and only
// a disk file is used; in a drive's root folder, no link and no file with a second name.
//
// The C runtime's append mode moves to the end and then writes, and its text mode writes in
// pieces of about 1 KB: launchers running at once lost and overwrote each other's records. A
// handle with append-only data access has the system put every write at the end as one piece.
// Wine does the same in two steps (it reads the size, then writes there), so each write also holds
// a lock on one byte far beyond any end of the file, which keeps launchers' writes apart there
// too and touches no byte that anyone reads or writes.
//
// Opening a file to write, which creates, empties or moves to its end, is the launcher's alone
// (open_text_file.cpp); what follows the open is shared with the dry platform, which only reads.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "platform/shared/text_output.h"
#include "platform/win32/text_file.h"

namespace {

constexpr size_t kSmallBufferSize = 4 * 1024;
constexpr DWORD kWriteLockOffsetHigh = 0x40000000;  // the byte at 2^62

}  // namespace

struct TextFile {
  FILE* stream;   // reading
  HANDLE handle;  // writing
  TextOutput output;
  unsigned char small[kSmallBufferSize];
};

bool IsInDriveRoot(const char* path) {
  return path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/') &&
         path[3] != '\0' && strpbrk(path + 3, "\\/") == nullptr;
}

DWORD TextFileAccess(TextFileMode mode) {
  // Locking a byte needs the right to read or write data; appending must not have the latter. The
  // fallback, when appending is refused, needs only the right to write data: it writes at the end
  // as it was when the file was opened.
  switch (mode) {
    case TextFileMode::kAppend:
      break;
    case TextFileMode::kWriteAtEnd:
      return FILE_WRITE_DATA;
    case TextFileMode::kCreateEmpty:
      return GENERIC_WRITE;  // emptied once checked
    case TextFileMode::kRead:
      return GENERIC_READ;
  }
  return FILE_READ_DATA | FILE_APPEND_DATA;
}

HANDLE OpenTextHandle(const char* path, TextFileMode mode) {
  DWORD disposition = mode == TextFileMode::kRead ? OPEN_EXISTING : OPEN_ALWAYS;
  // Anyone may put a link into a drive's root folder: a file there is used only when it is no
  // symbolic link, junction or other reparse point and has no other name, so that nothing
  // elsewhere is emptied, appended to or read.
  bool exposed = IsInDriveRoot(path);
  HANDLE handle =
      CreateFileA(path, TextFileAccess(mode), kTextFileSharing, nullptr, disposition,
                  FILE_ATTRIBUTE_NORMAL | (exposed ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Only a disk file is used: a pipe or a character device would block the run or never end.
  bool usable = GetFileType(handle) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION information;
  if (usable && exposed) {
    usable = GetFileInformationByHandle(handle, &information) &&
             (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
             information.nNumberOfLinks <= 1;
  }
  if (!usable) {
    CloseHandle(handle);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return handle;
}

TextFile* StartTextFile(HANDLE handle, bool reading) {
  auto* file = static_cast<TextFile*>(AllocateBuffer(sizeof(TextFile)));
  if (file == nullptr) {
    if (handle != nullptr) CloseHandle(handle);
    return nullptr;
  }
  // A file without a handle reads nothing and takes no writes.
  if (handle != nullptr && reading) {
    // Reading goes through the C runtime's text mode, on the handle that was checked.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_TEXT);
    file->stream = fd >= 0 ? _fdopen(fd, "rt") : nullptr;
    if (file->stream == nullptr) {
      if (fd >= 0) {
        _close(fd);
      } else {
        CloseHandle(handle);
      }
      ReleaseBuffer(file);
      return nullptr;
    }
  } else if (!reading) {
    file->handle = handle;
  }
  StartTextOutput(&file->output, file->small, sizeof file->small);
  return file;
}

int ReadTextLine(TextFile* file, char* buffer, int capacity) {
  if (file == nullptr || file->stream == nullptr || capacity <= 0) return 0;
  buffer[0] = '\0';
  return fgets(buffer, capacity, file->stream) != nullptr ? 1 : 0;
}

bool WriteFileBytes(TextFile* file, const unsigned char* bytes, size_t count) {
  OVERLAPPED lock = {};
  lock.OffsetHigh = kWriteLockOffsetHigh;
  // Without the lock (a file system that has none) the write goes ahead all the same.
  bool locked = LockFileEx(file->handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock);
  bool whole = true;
  while (whole && count > 0) {
    // The buffers hold far less than a DWORD can count.
    DWORD written = 0;
    whole =
        WriteFile(file->handle, bytes, static_cast<DWORD>(count), &written, nullptr) && written > 0;
    bytes += written;
    count -= written;
  }
  if (locked) UnlockFileEx(file->handle, 0, 1, 0, &lock);
  return whole;
}

void WriteText(TextFile* file, const char* text) {
  if (file != nullptr && file->handle != nullptr) PutText(file, &file->output, text);
}

void CloseTextFile(TextFile* file) {
  if (file == nullptr) return;
  if (file->stream != nullptr) fclose(file->stream);
  if (file->handle != nullptr) {
    EndTextOutput(file, &file->output);
    CloseHandle(file->handle);
  }
  ReleaseBuffer(file);
}
