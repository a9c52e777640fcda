// Buffered text files in the Windows C runtime's text mode: every "\n" written is stored as CR LF;
// reading turns CR LF into "\n", keeps a lone CR and ends the file at the first byte 26.
#pragma once

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
