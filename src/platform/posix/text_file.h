// The Linux text files of files.h once they are open. Only the launcher's OpenTextFile
// (open_text_file.cpp) creates, empties or writes a file; the dry platform opens them here to
// read, or takes a file that neither reads nor writes anything.
#pragma once

#include "platform/files.h"

/// Opens the file at the platform path `path` for `mode` as the launcher opens its text files:
/// mapped and opened inside the prefix, a regular file only, and in a drive's root folder neither
/// a link nor a file with a second name. A writing mode creates the file when it is missing; none
/// empties it or moves to its end. Returns the descriptor, or -1 with errno set.
int OpenTextDescriptor(const char* path, TextFileMode mode);
/// Makes a text file of the descriptor `fd`, which it takes over, for reading or for writing; -1
/// gives a file that reads nothing and keeps nothing written to it. Returns nullptr (with `fd`
/// closed) when memory runs out.
TextFile* StartTextFile(int fd, bool reading);
