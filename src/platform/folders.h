// The folders the preflight looks into: a hotfix bundle's folder, the launchers in it and where
// one would run from, the free space there, and where this host's file system meets the paths
// the preflight reports.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/fixed_text.h"

inline constexpr int kMostListedPrograms = 8;
inline constexpr int kProgramVersionCapacity = 64;
inline constexpr size_t kMostReadFileBytes = 4 << 20;  // a file the preflight is given to read
inline constexpr int kHostPathCapacity = 4096;

enum class FolderLookup {
  kFound,
  kNoFolder,       // nothing there, not a folder, or a path that does not fit
  kOutsideDrives,  // the Linux port: a folder in no drive of the prefix, which no launcher sees
};

/// Fills `path` (capacity bytes) with the platform path of the folder `given` names as it was
/// typed (nullptr: the running program's own folder), made absolute and ending in a separator.
FolderLookup ResolveFolder(const char* given, char* path, int capacity);
/// The prefix whose drive folders hold the drives: on Linux $HOTFIX_LAUNCHER_PREFIX or its default;
/// empty on Windows, whose drives are the system's own.
const char* DrivesPrefix();

struct ProgramList {
  int count = 0;                              // all found, which may be more than `names` holds
  FixedText<260> names[kMostListedPrograms];  // the first of them found
};

/// Lists the launchers in `folder` (a platform path ending in a separator): the files in it that
/// carry the launcher's mark (the build puts one into each of the project's programs: on Windows
/// the InternalName of its version resource, on Linux an ELF note) and that this user may run (on
/// Linux, regular files this user may execute, links followed). A preflight, which carries a mark
/// of its own, and every other file are left out, whatever their names. Returns 1, or 0 when the
/// folder cannot be listed.
int ListLaunchers(const char* folder, ProgramList* list);

enum class LauncherPlace {
  kInDrive,        // it runs as the Windows path it reads as its own
  kOutsideDrives,  // the Linux port: it runs from outside the prefix's drive folders
  kMissing,        // nothing to run there
};

/// Where the launcher `name` in `folder` would run from when started there. Fills `modulePath`
/// (capacity bytes) with the path it would read as its own, as the module path service gives it:
/// on Windows its path; on Linux the Windows path of the file the system runs, links resolved as
/// /proc/self/exe shows them, or empty when that has no Windows path. Fills `runsFrom`
/// (capacity bytes, ANSI code page text) with the host path it runs from.
LauncherPlace LocateLauncher(const char* folder, const char* name, char* modulePath, char* runsFrom,
                             int capacity);

/// Fills `version` with the release the program `name` in `folder` was built as: on Windows the
/// ProductVersion of its version resource, on Linux the version note the build puts beside its
/// mark (cmake/program_note.c.in). Returns 1, or 0 with it empty when the program carries none.
int ReadProgramVersion(const char* folder, const char* name,
                       FixedText<kProgramVersionCapacity>* version);

/// Fills `hostPath` (capacity bytes) with where this host's file system meets the platform path
/// `path`, as text of the ANSI code page: on Windows the path itself; on Linux the host path it
/// maps to, its folders resolved inside the prefix as the launcher's opens resolve them (when they
/// are there) and its last component as it is, so that a link there stays in view. Returns 1, or
/// 0 with an empty `hostPath` when it cannot be told.
int LocateHostPath(const char* path, char* hostPath, int capacity);
/// Sets *bytes to the free space the caller may use on the drive that holds `folder`; returns 1,
/// or 0 when it cannot be had.
int ReadFreeSpace(const char* folder, uint64_t* bytes);

/// Fills `text` (capacity bytes) with the host path `path` as report text of the ANSI code page: on
/// Windows the path itself; on Linux its UTF-8 as code page 1252, a character 1252 lacks as '?'.
void ShowHostPath(const char* path, char* text, size_t capacity);

enum class HostFileRead {
  kRead,
  kDenied,  // this user may not read it: unknown, not a usage error
  kFailed,  // missing, not a regular file, larger than kMostReadFileBytes, or an I/O error
};

/// Reads the file at the host path `path` whole (with "-", the standard input, as bytes), at most
/// kMostReadFileBytes, into a buffer from AllocateBuffer with one NUL byte after it (release it
/// with ReleaseBuffer), and sets *size. Fills `reason` (capacity bytes) when it cannot be read.
HostFileRead ReadHostFile(const char* path, unsigned char** bytes, size_t* size, char* reason,
                          size_t capacity);
