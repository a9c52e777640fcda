// Mapping of Windows paths onto the Linux prefix, and of the launcher's own host path back.
#include "platform/posix/paths.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/fixed_text.h"
#include "platform/posix/code_page_1252.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Appends the components of `rest` to `mapped` (which ends at the root the path may not leave),
// each after a slash, dropping "." and empty ones and taking ".." back one component at most to
// the root.
bool AppendComponents(const char* rest, char* mapped, size_t capacity) {
  const size_t root = strlen(mapped);
  size_t used = root;
  while (*rest != '\0') {
    while (IsSeparator(*rest)) ++rest;
    size_t length = 0;
    while (rest[length] != '\0' && !IsSeparator(rest[length])) ++length;
    if (length == 2 && rest[0] == '.' && rest[1] == '.') {
      while (used > root && mapped[used - 1] != '/') --used;
      if (used > root) --used;
    } else if (length > 0 && !(length == 1 && rest[0] == '.')) {
      if (used + 1 + length >= capacity) return false;
      mapped[used++] = '/';
      memcpy(mapped + used, rest, length);
      used += length;
    }
    mapped[used] = '\0';
    rest += length;
  }
  return true;
}

// The rest of a host path in a drive folder of `prefix` ("/a/b" of "<prefix>/drive_x/a/b"), with
// the drive letter in *drive; nullptr when the path lies in no drive folder.
const char* InDriveFolder(const char* hostPath, const char* prefix, char* drive) {
  size_t length = strlen(prefix);
  const char* rest = hostPath + length;
  if (strncmp(hostPath, prefix, length) != 0 || strncmp(rest, "/drive_", 7) != 0 ||
      !islower(static_cast<unsigned char>(rest[7])) || rest[8] != '/') {
    return nullptr;
  }
  *drive = rest[7];
  return rest + 8;
}

// The same for the prefix as the file system names it, links resolved, as /proc names programs.
// The host paths given here are such names, so one that starts with the prefix's text as it
// stands lies in the prefix: its links are resolved only when it does not.
const char* InPrefixDriveFolder(const char* hostPath, char* drive) {
  const char* rest = InDriveFolder(hostPath, PlatformPrefix(), drive);
  if (rest != nullptr) return rest;
  char* resolved = realpath(PlatformPrefix(), nullptr);
  if (resolved == nullptr) return nullptr;
  rest = InDriveFolder(hostPath, resolved, drive);  // points into hostPath
  free(resolved);
  return rest;
}

}  // namespace

const char* PlatformPrefix() {
  const char* prefix = getenv("HOTFIX_LAUNCHER_PREFIX");
  return prefix != nullptr && prefix[0] != '\0' ? prefix : "/var/lib/hotfix-launcher";
}

int MapPlatformPath(const char* path, char* mapped, size_t capacity) {
  char text[kMappedPathCapacity];
  if (!CopyBounded(mapped, capacity, "") || !Utf8OfAnsi(path, text, sizeof text)) return 0;
  if (!CopyBounded(mapped, capacity, PlatformPrefix())) return 0;
  const char* rest = text;
  if (IsSeparator(text[0]) && IsSeparator(text[1])) {
    // A share's root is its server and share name; ".." does not climb above it.
    if (!AppendBounded(mapped, capacity, "/unc")) return 0;
    char* name = text + 2;
    for (int part = 0; part < 2; ++part) {
      size_t length = 0;
      while (name[length] != '\0' && !IsSeparator(name[length])) ++length;
      // The name alone: ended in place while it is appended.
      char after = name[length];
      name[length] = '\0';
      bool appended = AppendComponents(name, mapped, capacity);
      name[length] = after;
      if (!appended) return 0;
      name += length;
      while (IsSeparator(*name)) ++name;
    }
    rest = name;
  } else {
    char drive[] = "/drive_c";
    if (isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':') {
      drive[7] = static_cast<char>(tolower(static_cast<unsigned char>(text[0])));
      rest = text + 2;
    }
    if (!AppendBounded(mapped, capacity, drive)) return 0;
  }
  return AppendComponents(rest, mapped, capacity) ? 1 : 0;
}

bool IsInDriveRoot(const char* mapped) {
  char drive;
  const char* rest = InDriveFolder(mapped, PlatformPrefix(), &drive);
  return rest != nullptr && rest[1] != '\0' && strchr(rest + 1, '/') == nullptr;
}

bool IsInDriveFolder(const char* hostPath) {
  char drive;
  return InPrefixDriveFolder(hostPath, &drive) != nullptr;
}

// By the path /proc/self/exe names rather than through the link, as a program run by a tool such
// as valgrind is shown its own path there but not its own file.
bool ReadOwnHostPath(char* hostPath, size_t capacity) {
  ssize_t length = capacity > 0 ? readlink("/proc/self/exe", hostPath, capacity - 1) : -1;
  if (length <= 0 || static_cast<size_t>(length) >= capacity - 1) return false;
  hostPath[length] = '\0';
  return true;
}

int WindowsPathOfHostPath(const char* hostPath, char* path, size_t capacity) {
  if (!CopyBounded(path, capacity, "")) return 0;
  char drive;
  const char* rest = InPrefixDriveFolder(hostPath, &drive);
  if (rest == nullptr || strchr(hostPath, '\\') != nullptr ||
      !AnsiOfUtf8(rest, path + 2, capacity > 2 ? capacity - 2 : 0)) {
    return 0;
  }
  path[0] = static_cast<char>(toupper(static_cast<unsigned char>(drive)));
  path[1] = ':';
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '/') *p = '\\';
  }
  return 1;
}
