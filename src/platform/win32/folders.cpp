// The preflight's folders on Windows: full paths from GetFullPathNameA, and a launcher told by the
// InternalName of its version resource, read from the file loaded as data (no version.dll) and
// walked as VS_VERSIONINFO lays it out.
#include "platform/folders.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "platform/process.h"

namespace {

constexpr char kLauncherMark[] = "hotfix-launcher";

// One block of a version resource: its key and value, and the blocks it holds. Offsets count
// from the start of the resource, which is aligned to 32 bits as every key and value is.
struct VersionBlock {
  const unsigned char* key;  // UTF-16LE, NUL-terminated
  const unsigned char* value;
  size_t valueBytes;
  const unsigned char* children;
  const unsigned char* end;
};

uint16_t Word(const unsigned char* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

const unsigned char* Aligned(const unsigned char* start, const unsigned char* at) {
  return start + ((static_cast<size_t>(at - start) + 3) & ~size_t{3});
}

// Reads the block at `at`, which must end by `end`; false when it does not fit.
bool ReadBlock(const unsigned char* start, const unsigned char* at, const unsigned char* end,
               VersionBlock* block) {
  if (end - at < 6) return false;
  size_t length = Word(at);
  size_t valueLength = Word(at + 2);
  bool text = Word(at + 4) == 1;
  if (length < 6 || length > static_cast<size_t>(end - at)) return false;
  block->end = at + length;
  block->key = at + 6;
  const unsigned char* p = block->key;
  while (p + 1 < block->end && Word(p) != 0) p += 2;
  if (p + 1 >= block->end) return false;
  block->value = Aligned(start, p + 2);
  block->valueBytes = text ? valueLength * 2 : valueLength;
  if (block->value > block->end ||
      block->valueBytes > static_cast<size_t>(block->end - block->value)) {
    return false;
  }
  block->children = Aligned(start, block->value + block->valueBytes);
  if (block->children > block->end) block->children = block->end;
  return true;
}

// Whether a UTF-16LE text (NUL-terminated, within `end`) is the ASCII text `ascii`.
bool SameText(const unsigned char* text, const unsigned char* end, const char* ascii) {
  for (; *ascii != '\0'; ++ascii, text += 2) {
    if (text + 1 >= end || Word(text) != static_cast<unsigned char>(*ascii)) return false;
  }
  return text + 1 < end && Word(text) == 0;
}

// Finds the child of `parent` keyed `key`.
bool FindChild(const unsigned char* start, const VersionBlock& parent, const char* key,
               VersionBlock* child) {
  for (const unsigned char* at = parent.children; at < parent.end;) {
    if (!ReadBlock(start, at, parent.end, child)) return false;
    if (SameText(child->key, child->end, key)) return true;
    at = Aligned(start, child->end);
  }
  return false;
}

// Copies the string value `key` of the version resource's string tables as text (a character
// outside ASCII becomes '?'), cut to capacity.
bool FindVersionString(const unsigned char* start, size_t size, const char* key, char* text,
                       size_t capacity) {
  VersionBlock root;
  VersionBlock strings;
  if (!ReadBlock(start, start, start + size, &root) ||
      !SameText(root.key, root.end, "VS_VERSION_INFO") ||
      !FindChild(start, root, "StringFileInfo", &strings)) {
    return false;
  }
  VersionBlock table;
  for (const unsigned char* at = strings.children; at < strings.end;) {
    if (!ReadBlock(start, at, strings.end, &table)) return false;
    VersionBlock value;
    if (FindChild(start, table, key, &value)) {
      size_t length = 0;
      for (const unsigned char* p = value.value; p + 1 < value.end && Word(p) != 0; p += 2) {
        if (length + 1 < capacity) text[length++] = Word(p) < 0x80 ? static_cast<char>(*p) : '?';
      }
      text[length] = '\0';
      return true;
    }
    at = Aligned(start, table.end);
  }
  return false;
}

// Copies the string value `key` of the version resource of the program file at `path`. Loaded
// as data, it runs nothing.
bool ReadVersionString(const char* path, const char* key, char* text, size_t capacity) {
  HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return false;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  bool read =
      data != nullptr && FindVersionString(static_cast<const unsigned char*>(data),
                                           SizeofResource(module, found), key, text, capacity);
  FreeLibrary(module);
  return read;
}

// Whether the program file at `path` carries the mark `mark`: its InternalName.
bool CarriesMark(const char* path, const char* mark) {
  char name[32];
  return ReadVersionString(path, "InternalName", name, sizeof name) && strcmp(name, mark) == 0;
}

}  // namespace

FolderLookup ResolveFolder(const char* given, char* path, int capacity) {
  path[0] = '\0';
  char own[MAX_PATH + 1];
  if (given == nullptr) {
    DWORD length = GetModuleFileNameA(nullptr, own, sizeof own);
    char* last = length > 0 && length < sizeof own ? strrchr(own, '\\') : nullptr;
    if (last == nullptr) return FolderLookup::kNoFolder;
    last[1] = '\0';
    given = own;
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

const char* DrivesPrefix() { return ""; }

int ListLaunchers(const char* folder, ProgramList* list) {
  list->count = 0;
  char pattern[MAX_PATH + 8];
  if (strlen(folder) + sizeof "*" > sizeof pattern) return 0;
  strcpy(pattern, folder);
  strcat(pattern, "*");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : 0;
  do {
    char path[MAX_PATH + 1];
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        strlen(folder) + strlen(found.cFileName) >= sizeof path) {
      continue;
    }
    strcpy(path, folder);
    strcat(path, found.cFileName);
    if (!CarriesMark(path, kLauncherMark)) continue;
    if (list->count < kMostListedPrograms) CopyText(&list->names[list->count], found.cFileName);
    ++list->count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return 1;
}

LauncherPlace LocateLauncher(const char* folder, const char* name, char* modulePath, char* runsFrom,
                             int capacity) {
  size_t room = static_cast<size_t>(capacity);
  CopyBounded(modulePath, room, "");
  if (!CopyBounded(runsFrom, room, folder) || !AppendBounded(runsFrom, room, name)) {
    CopyBounded(runsFrom, room, "");
    return LauncherPlace::kMissing;
  }
  DWORD attributes = GetFileAttributesA(runsFrom);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return LauncherPlace::kMissing;
  }
  CopyBounded(modulePath, room, runsFrom);
  return LauncherPlace::kInDrive;
}

int ReadProgramVersion(const char* folder, const char* name,
                       FixedText<kProgramVersionCapacity>* version) {
  CopyText(version, "");
  char path[MAX_PATH + 1];
  if (!CopyBounded(path, sizeof path, folder) || !AppendBounded(path, sizeof path, name) ||
      !ReadVersionString(path, "ProductVersion", version->text, sizeof version->text)) {
    CopyText(version, "");
    return 0;
  }
  return 1;
}

int LocateHostPath(const char* path, char* hostPath, int capacity) {
  if (CopyBounded(hostPath, static_cast<size_t>(capacity), path)) return 1;
  hostPath[0] = '\0';
  return 0;
}

int ReadFreeSpace(const char* folder, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return 0;
  *bytes = available.QuadPart;
  return 1;
}

void ShowHostPath(const char* path, char* text, size_t capacity) {
  CopyBounded(text, capacity, path);
}

HostFileRead ReadHostFile(const char* path, unsigned char** bytes, size_t* size, char* reason,
                          size_t capacity) {
  *bytes = nullptr;
  *size = 0;
  bool input = strcmp(path, "-") == 0;
  HANDLE file = input ? GetStdHandle(STD_INPUT_HANDLE)
                      : CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = file == INVALID_HANDLE_VALUE || file == nullptr ? GetLastError() : 0;
  const char* wrong = nullptr;
  if (error == 0 && !input && GetFileType(file) != FILE_TYPE_DISK) wrong = "not a regular file";
  // A buffer that grows as the bytes come, the standard input's included, up to the limit.
  size_t room = 0;
  while (error == 0 && wrong == nullptr) {
    if (*size == room) {
      if (room > kMostReadFileBytes) break;
      size_t grown = room == 0 ? 1 << 16 : 2 * room;
      auto* larger = static_cast<unsigned char*>(ResizeBuffer(*bytes, room + 1, grown + 1));
      if (larger == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        break;
      }
      *bytes = larger;
      room = grown;
    }
    DWORD got = 0;
    if (!ReadFile(file, *bytes + *size, static_cast<DWORD>(room - *size), &got, nullptr)) {
      // A pipe whose writer has closed it ends the standard input.
      if (GetLastError() != ERROR_BROKEN_PIPE) error = GetLastError();
      break;
    }
    if (got == 0) break;
    *size += got;
  }
  char tooLarge[64];
  snprintf(tooLarge, sizeof tooLarge, "larger than %lu bytes",
           static_cast<unsigned long>(kMostReadFileBytes));
  if (wrong == nullptr && error == 0 && *size > kMostReadFileBytes) wrong = tooLarge;
  if (!input && file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (error == 0 && wrong == nullptr && *bytes != nullptr) return HostFileRead::kRead;
  ReleaseBuffer(*bytes);
  *bytes = nullptr;
  if (wrong != nullptr) {
    CopyBounded(reason, capacity, wrong);
    return HostFileRead::kFailed;
  }
  ErrorText described;
  DescribeError(error, &described);
  CopyBounded(reason, capacity, described.text);
  return error == ERROR_ACCESS_DENIED ? HostFileRead::kDenied : HostFileRead::kFailed;
}
