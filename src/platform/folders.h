// The folders the preflight looks into: a hotfix bundle's folder and the program files in it, and
// where this host's file system meets the paths it reports.
#pragma once

#include "common/fixed_text.h"

inline constexpr int kMostListedPrograms = 8;
inline constexpr int kHostPathCapacity = 4096;

enum class FolderLookup {
  kFound,
  kNoFolder,       // nothing there, or not a folder
  kOutsideDrives,  // the Linux port: a folder in no drive of the prefix, which no launcher sees
};

/// Fills `path` (capacity bytes) with the platform path of the folder `given` names as it was
/// typed (nullptr: the running program's own folder), made absolute and ending in a separator.
FolderLookup ResolveFolder(const char* given, char* path, int capacity);

struct ProgramList {
  int count = 0;                              // all found, which may be more than `names` holds
  FixedText<260> names[kMostListedPrograms];  // the first of them found
};

/// Lists the program files in `folder` (a platform path ending in a separator): files named
/// "*.exe" on Windows, regular files this user may execute on Linux. The running program and the
/// file named `except` (compared as the file system compares names) are left out. Returns 1, or 0
/// when the folder cannot be listed.
int ListProgramFiles(const char* folder, const char* except, ProgramList* list);

/// Fills `hostPath` (capacity bytes) with where this host's file system meets the platform path
/// `path`, as text of the ANSI code page: on Windows the path itself; on Linux the host path it
/// maps to, its folders resolved inside the prefix as the launcher's opens resolve them (when they
/// are there) and its last component as it is, so that a link there stays in view. Returns 1, or
/// 0 with an empty `hostPath` when it cannot be told.
int LocateHostPath(const char* path, char* hostPath, int capacity);
