// The Windows text files of files.h once they are open. Only the launcher's OpenTextFile
// (open_text_file.cpp) creates, empties or writes a file; the dry platform opens them here to
// read, or takes a file that neither reads nor writes anything.
#pragma once

#include <windows.h>

#include "platform/files.h"

/// Says whether a path names an entry in the root folder of a drive ("c:\tmp.log"), which any
/// user may write to.
bool IsInDriveRoot(const char* path);
/// The rights the launcher's open of a text file asks for in `mode`.
DWORD TextFileAccess(TextFileMode mode);
/// The sharing every open of a text file allows: other readers, writers and deleters.
inline constexpr DWORD kTextFileSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
/// Opens the file at `path` for `mode` as the launcher opens its text files: with deny-none
/// sharing, a disk file only, and in a drive's root folder neither a reparse point nor a file with
/// a second name. A writing mode creates the file when it is missing; none empties it or moves to
/// its end. Returns the handle, or nullptr with the last-error code set.
HANDLE OpenTextHandle(const char* path, TextFileMode mode);
/// Makes a text file of `handle`, which it takes over, for reading or for writing; nullptr gives a
/// file that reads nothing and keeps nothing written to it. Returns nullptr (with `handle` closed)
/// when memory runs out or the C runtime cannot take the handle.
TextFile* StartTextFile(HANDLE handle, bool reading);
