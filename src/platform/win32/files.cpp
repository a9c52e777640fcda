// Text files through the C runtime's own text-mode streams, opened with deny-none sharing so that
// a log stays readable and writable by others while the launcher holds it. Only disk files are
// used.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "platform/memory.h"

struct TextFile {
  FILE* stream;
};

namespace {

// Opens for writing at the end without cutting the file: the fallback when appending fails.
FILE* OpenAtEnd(const char* path) {
  int fd = _sopen(path, _O_WRONLY | _O_CREAT | _O_TEXT, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* stream = _lseek(fd, 0, SEEK_END) >= 0 ? _fdopen(fd, "wt") : nullptr;
  if (stream == nullptr) _close(fd);
  return stream;
}

FILE* OpenStream(const char* path, TextFileMode mode) {
  switch (mode) {
    case TextFileMode::kAppend:
      return _fsopen(path, "at", _SH_DENYNO);
    case TextFileMode::kWriteAtEnd:
      return OpenAtEnd(path);
    case TextFileMode::kCreateEmpty:
      return _fsopen(path, "w", _SH_DENYNO);
    case TextFileMode::kRead:
      break;
  }
  return _fsopen(path, "rt", _SH_DENYNO);
}

}  // namespace

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  FILE* stream = OpenStream(path, mode);
  if (stream == nullptr) return nullptr;
  // Only a disk file is used: a pipe or a character device would block the run or never end.
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != FILE_TYPE_DISK) {
    fclose(stream);
    return nullptr;
  }
  auto* file = static_cast<TextFile*>(AllocateBuffer(sizeof(TextFile)));
  if (file == nullptr) {
    fclose(stream);
    return nullptr;
  }
  file->stream = stream;
  return file;
}

int ReadTextLine(TextFile* file, char* buffer, int capacity) {
  if (file == nullptr || capacity <= 0) return 0;
  buffer[0] = '\0';
  return fgets(buffer, capacity, file->stream) != nullptr ? 1 : 0;
}

void WriteText(TextFile* file, const char* text) {
  if (file != nullptr) fputs(text, file->stream);
}

void CloseTextFile(TextFile* file) {
  if (file == nullptr) return;
  fclose(file->stream);
  ReleaseBuffer(file);
}
