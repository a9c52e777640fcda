// The launcher's opens of its text files on Windows: the one place that creates, empties or moves
// to the end of a file, each only once the file is known to be the one meant.
#include "platform/win32/text_file.h"

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  HANDLE handle = OpenTextHandle(path, mode);
  if (handle == nullptr) return nullptr;
  LARGE_INTEGER none = {};
  bool usable = true;
  if (mode == TextFileMode::kWriteAtEnd) {
    usable = SetFilePointerEx(handle, none, nullptr, FILE_END);
  }
  if (mode == TextFileMode::kCreateEmpty) usable = SetEndOfFile(handle);
  if (!usable) {
    CloseHandle(handle);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return StartTextFile(handle, mode == TextFileMode::kRead);
}
