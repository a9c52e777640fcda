// The launcher's own directory and name, split from the executable's path as _splitpath does.
#include <cstring>

#include "platform/module_path.h"
#include "settings/settings.h"

namespace {

constexpr size_t kPartCapacity = 256;  // a directory or file name of at most 255 characters

// Copies at most 255 characters; returns false when it had to cut.
bool CopyPart(char* to, const char* from, size_t length) {
  bool whole = length <= kPartCapacity - 1;
  if (!whole) length = kPartCapacity - 1;
  memcpy(to, from, length);
  to[length] = '\0';
  return whole;
}

}  // namespace

int SplitModulePath(const char* path, LeadByteRule isLeadByte, LauncherLocation* location) {
  const char* rest = path;
  char drive[3] = "";
  if (path[0] != '\0' && path[1] == ':') {
    drive[0] = path[0];
    drive[1] = ':';
    rest = path + 2;
  }
  const char* lastSeparator = nullptr;
  const char* lastDot = nullptr;
  for (const char* p = rest; *p != '\0'; ++p) {
    if (isLeadByte(static_cast<unsigned char>(*p))) {
      if (p[1] == '\0') break;
      ++p;
    } else if (*p == '\\' || *p == '/') {
      lastSeparator = p;
    } else if (*p == '.') {
      lastDot = p;
    }
  }
  const char* fileName = lastSeparator != nullptr ? lastSeparator + 1 : rest;
  const char* fileEnd =
      lastDot != nullptr && lastDot >= fileName ? lastDot : fileName + strlen(fileName);

  char directory[kPartCapacity];
  bool whole = CopyPart(directory, rest, static_cast<size_t>(fileName - rest));
  CopyText(&location->directory, drive);
  AppendText(&location->directory, directory);

  char name[kPartCapacity];
  whole = CopyPart(name, fileName, static_cast<size_t>(fileEnd - fileName)) && whole;
  CopyText(&location->name, name);
  return whole ? 1 : 0;
}

int GetLauncherLocation(LauncherLocation* location) {
  char path[kPathCapacity];
  ReadModulePath(path, sizeof path);
  return SplitModulePath(path, IsAnsiLeadByte, location) && path[0] != '\0' ? 1 : 0;
}
