// The write side of the text files, shared by platform/posix/files.cpp and platform/win32/files.cpp
// (nothing else includes it): text goes into the file's own buffer with every "\n" stored as CR LF,
// as the Windows C runtime's text mode stores it, and from there to the file in whole lines.
#pragma once

#include <cstddef>

struct TextFile;

/// Writes the bytes at the file's end, in one system write as far as the system allows; returns
/// false when a write fails. Each platform's files.cpp provides it.
bool WriteFileBytes(TextFile* file, const unsigned char* bytes, size_t count);

struct TextOutput {
  unsigned char* data;  // the file's small buffer, or a large heap buffer once that has filled
  size_t end;           // bytes waiting in `data`
  size_t capacity;      // of `data`
  bool large;           // `data` is the heap buffer
  bool failed;          // a write failed; what follows is dropped, as the caller is not told
};

/// Starts the output in the file's small buffer, which holds any one run-log record whole.
void StartTextOutput(TextOutput* output, unsigned char* small, size_t capacity);
/// Stores the text. A full buffer moves to a large one, or once large is written out up to the end
/// of its last line, so that a record another process appends meanwhile starts a line of its own.
void PutText(TextFile* file, TextOutput* output, const char* text);
/// Writes out whatever is waiting and releases the large buffer.
void EndTextOutput(TextFile* file, TextOutput* output);
