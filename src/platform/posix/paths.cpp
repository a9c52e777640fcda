// Mapping of Windows paths onto the Linux prefix.
#include "platform/posix/paths.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/fixed_text.h"

const char* PlatformPrefix() {
  const char* prefix = getenv("HOTFIX_LAUNCHER_PREFIX");
  return prefix != nullptr && prefix[0] != '\0' ? prefix : "/var/lib/hotfix-launcher";
}

int MapPlatformPath(const char* path, char* mapped, size_t capacity) {
  if (!CopyBounded(mapped, capacity, "")) return 0;
  const char* rest = path;
  if (isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    char drive[] = "/drive_?";
    drive[7] = static_cast<char>(tolower(static_cast<unsigned char>(path[0])));
    rest = path + 2;
    if (!AppendBounded(mapped, capacity, PlatformPrefix()) ||
        !AppendBounded(mapped, capacity, drive)) {
      return 0;
    }
    if (rest[0] != '\\' && rest[0] != '/' && !AppendBounded(mapped, capacity, "/")) return 0;
  }
  size_t used = strlen(mapped);
  size_t length = strlen(rest);
  if (used + length >= capacity) return 0;
  for (size_t i = 0; i <= length; ++i) mapped[used + i] = rest[i] == '\\' ? '/' : rest[i];
  return 1;
}
