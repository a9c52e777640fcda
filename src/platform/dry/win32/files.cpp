// The dry platform's text files on Windows. A read opens the file as the launcher would and reads
// it for real. An open to write only looks: a file that is there is looked at for what it is, then
// opened with the very rights and sharing the launcher's open asks for but only if it exists, so
// that nothing is created or cut; a missing one is judged by the folder the create would put it
// in, which must let this user add a file. Nothing is created, emptied or written.
#include <windows.h>

#include <cstring>

#include "platform/dry/dry_checks.h"
#include "platform/win32/text_file.h"

namespace {

// The errors the launcher's open meets in the same way whoever runs it and whenever: no such file,
// folder or drive, a name that is not one or is too long, not a folder on the way, too many links.
constexpr DWORD kDecidingErrors[] = {
    ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,       ERROR_INVALID_NAME,
    ERROR_BAD_PATHNAME,   ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_DRIVE,
    ERROR_DIRECTORY,      ERROR_CANT_RESOLVE_FILENAME};

FileAccess Failed(DWORD code, DryReason* reason) {
  DescribeError(code, reason);
  return ErrorDecides(code) ? FileAccess::kCannotOpen : FileAccess::kUnknown;
}

FileAccess Refused(const char* what, DryReason* reason) {
  CopyText(reason, what);
  return FileAccess::kCannotOpen;
}

// A missing file: the create puts it into its folder (the path up to its last separator), which
// must be there and let this user add a file to it. A name the folder lists all the same is a link
// whose target is missing, which cannot be told apart from here.
FileAccess ProbeFolder(const char* path, DryReason* reason) {
  WIN32_FIND_DATAA found;
  HANDLE listed = FindFirstFileA(path, &found);
  if (listed != INVALID_HANDLE_VALUE) {
    FindClose(listed);
    CopyText(reason, "a link whose target is missing");
    return FileAccess::kUnknown;
  }
  char folder[MAX_PATH + 1];
  const char* last = strrchr(path, '\\');
  const char* slash = strrchr(path, '/');
  if (slash != nullptr && (last == nullptr || slash > last)) last = slash;
  size_t length = last != nullptr ? static_cast<size_t>(last - path) + 1 : 0;
  if (length == 0 || length >= sizeof folder) return Failed(ERROR_PATH_NOT_FOUND, reason);
  memcpy(folder, path, length);
  folder[length] = '\0';
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(GetLastError(), reason);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Failed(ERROR_PATH_NOT_FOUND, reason);
  // The right the create needs of the folder, asked of the system by opening it with that right.
  HANDLE opened = CreateFileA(folder, FILE_ADD_FILE, kTextFileSharing, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return Failed(GetLastError(), reason);
  CloseHandle(opened);
  return FileAccess::kWouldCreate;
}

// What OpenTextFile(path, mode) would meet in a writing mode, which creates a missing file. In a
// drive's root folder a reparse point or a file with a second name is refused as the launcher
// refuses it.
FileAccess ProbeForWriting(const char* path, TextFileMode mode, DryReason* reason) {
  bool exposed = IsInDriveRoot(path);
  DWORD flags = exposed ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, kTextFileSharing, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND ? ProbeFolder(path, reason) : Failed(code, reason);
  }
  BY_HANDLE_FILE_INFORMATION information;
  bool known = GetFileInformationByHandle(handle, &information) != FALSE;
  DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (!known || type != FILE_TYPE_DISK) return Refused("not a disk file", reason);
  DWORD attributes = information.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Refused("a folder", reason);
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return Refused("a read-only file", reason);
  if (exposed &&
      ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || information.nNumberOfLinks > 1)) {
    return Refused("a link, or a file with a second name, in a drive's root folder", reason);
  }
  // The launcher's own open, with its rights and sharing, of the file that is there: who may write
  // it and who holds it open decide, as they would for the launcher.
  HANDLE opened = CreateFileA(path, TextFileAccess(mode), kTextFileSharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return Failed(GetLastError(), reason);
  CloseHandle(opened);
  return FileAccess::kOpens;
}

}  // namespace

bool ErrorDecides(uint32_t code) {
  for (DWORD deciding : kDecidingErrors) {
    if (code == deciding) return true;
  }
  return false;
}

Lookup LookUpFileToRead(const char* path, DryReason* reason) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, kTextFileSharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return Lookup::kFound;
  }
  DWORD code = GetLastError();
  DescribeError(code, reason);
  return ErrorDecides(code) ? Lookup::kAbsent : Lookup::kUnknown;
}

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  DryReason reason;
  if (mode != TextFileMode::kRead) {
    FileAccess access = ProbeForWriting(path, mode, &reason);
    NoteFileOpen(path, mode, access, reason);
    return access == FileAccess::kCannotOpen ? nullptr : StartTextFile(nullptr, true);
  }
  if (RunEmptied(path)) return StartTextFile(nullptr, true);
  HANDLE handle = OpenTextHandle(path, mode);
  NoteFileOpen(path, mode, handle != nullptr ? FileAccess::kOpens : Failed(GetLastError(), &reason),
               reason);
  return handle != nullptr ? StartTextFile(handle, true) : nullptr;
}
