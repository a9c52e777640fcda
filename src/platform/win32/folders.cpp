// The preflight's folders on Windows: full paths from GetFullPathNameA, program files from
// FindFirstFileA, and the running program known by its file identity rather than by a name
// that may be spelt in more than one way.
#include "platform/folders.h"

#include <windows.h>

#include <cstring>

#include "platform/module_path.h"

namespace {

struct FileIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};

// Returns true with *identity set when the file can be opened for its attributes.
bool ReadFileIdentity(const char* path, FileIdentity* identity) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool known = GetFileInformationByHandle(handle, &information) != FALSE;
  CloseHandle(handle);
  if (known) {
    *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                 information.nFileIndexLow};
  }
  return known;
}

bool EndsInExe(const char* name) {
  size_t length = strlen(name);
  return length > 4 && lstrcmpiA(name + length - 4, ".exe") == 0;
}

}  // namespace

FolderLookup ResolveFolder(const char* given, char* path, int capacity) {
  path[0] = '\0';
  char typed[MAX_PATH + 1];
  if (given == nullptr) {
    ReadModulePath(typed, sizeof typed);
    char* last = strrchr(typed, '\\');
    if (last == nullptr) return FolderLookup::kNoFolder;
    last[1] = '\0';
    given = typed;
  }
  DWORD length = GetFullPathNameA(given, static_cast<DWORD>(capacity) - 1, path, nullptr);
  DWORD attributes = length > 0 && length < static_cast<DWORD>(capacity) - 1
                         ? GetFileAttributesA(path)
                         : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    path[0] = '\0';
    return FolderLookup::kNoFolder;
  }
  if (path[length - 1] != '\\') memcpy(path + length, "\\", 2);
  return FolderLookup::kFound;
}

int ListProgramFiles(const char* folder, const char* except, ProgramList* list) {
  list->count = 0;
  char pattern[MAX_PATH + 8];
  char own[MAX_PATH + 1];
  FileIdentity self;
  ReadModulePath(own, sizeof own);
  bool selfKnown = own[0] != '\0' && ReadFileIdentity(own, &self);
  if (strlen(folder) + sizeof "*.exe" > sizeof pattern) return 0;
  strcpy(pattern, folder);
  strcat(pattern, "*.exe");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : 0;
  do {
    // The pattern also matches names whose short form ends in .EXE: only the long name counts.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !EndsInExe(found.cFileName) ||
        lstrcmpiA(found.cFileName, except) == 0) {
      continue;
    }
    char path[MAX_PATH + 1];
    FileIdentity candidate;
    if (selfKnown && strlen(folder) + strlen(found.cFileName) < sizeof path) {
      strcpy(path, folder);
      strcat(path, found.cFileName);
      if (ReadFileIdentity(path, &candidate) && candidate.volume == self.volume &&
          candidate.indexHigh == self.indexHigh && candidate.indexLow == self.indexLow) {
        continue;
      }
    }
    if (list->count < kMostListedPrograms) CopyText(&list->names[list->count], found.cFileName);
    ++list->count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return 1;
}

int LocateHostPath(const char* path, char* hostPath, int capacity) {
  if (CopyBounded(hostPath, static_cast<size_t>(capacity), path)) return 1;
  hostPath[0] = '\0';
  return 0;
}
