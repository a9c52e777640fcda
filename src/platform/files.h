// Buffered text files in the Windows C runtime's text mode: every "\n" written is stored as CR LF;
// reading turns CR LF into "\n", keeps a lone CR and ends the file at the first byte 26.
#pragma once

#include <cstdint>

struct TextFile;

enum class TextFileMode {
  kAppend,       // "at": write at the end, create the file when it does not exist
  kWriteAtEnd,   // write at the end without truncating, create the file when it does not exist
  kCreateEmpty,  // "w": create the file or cut it to length zero
  kRead,         // "rt"
};

/// Opens the platform path with deny-none sharing; returns nullptr when it cannot be opened.
TextFile* OpenTextFile(const char* path, TextFileMode mode);
/// Reads the next chunk as fgets does: up to and including "\n", at most capacity - 1 bytes, then
/// a NUL. Returns 1 when anything was read, 0 at the end of the file or on a read error.
int ReadTextLine(TextFile* file, char* buffer, int capacity);
/// Writes a NUL-terminated text; write failures are not reported.
void WriteText(TextFile* file, const char* text);
void CloseTextFile(TextFile* file);

enum class FileAccess {
  kOpens,        // the file is there and opens in that mode
  kWouldCreate,  // the file is not there, and the mode would create it in its existing folder
  kCannotOpen,   // the open would fail
};

/// Says what OpenTextFile(path, mode) would meet, without creating, emptying or writing anything.
/// A new file's folder is only known to exist (on Linux, also to be writable for this user).
FileAccess ProbeTextFile(const char* path, TextFileMode mode);
/// Sets *bytes to the free space the caller may use on the drive that holds `folder`; returns 1,
/// or 0 when it cannot be had.
int ReadFreeSpace(const char* folder, uint64_t* bytes);
