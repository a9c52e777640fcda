// The folders the preflight looks into: a hotfix bundle's folder and the program files in it.
#pragma once

#include "common/fixed_text.h"

inline constexpr int kMostListedPrograms = 8;

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
