// The example installer on Linux: paths through the launcher's own mapping; the registry mark is a
// line appended to HKLM.reg, which the reader applies after everything before it (so is its
// removal).
#include <unistd.h>

#include <string>

#include "installer_host.h"
#include "platform/posix/paths.h"

FILE* OpenRaw(const char* path, const char* mode) {
  char mapped[kMappedPathCapacity];
  return MapPlatformPath(path, mapped, sizeof mapped) ? fopen(mapped, mode) : nullptr;
}

void RemoveRaw(const char* path) {
  char mapped[kMappedPathCapacity];
  if (MapPlatformPath(path, mapped, sizeof mapped)) remove(mapped);
}

namespace {

// A registry file this makes starts with the header its reader requires.
void AppendToRegistry(const char* lines) {
  std::string registry = std::string(PlatformPrefix()) + "/HKLM.reg";
  if (FILE* file = fopen(registry.c_str(), "ab")) {
    if (fseek(file, 0, SEEK_END) == 0 && ftell(file) == 0) fputs("REGEDIT4\r\n", file);
    fputs(lines, file);
    fclose(file);
  }
}

}  // namespace

void MarkInstalled() {
  AppendToRegistry(
      "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=dword:00000001\r\n");
}

// A value line of "-" deletes the value, and a later line decides over an earlier one.
void UnmarkInstalled() {
  AppendToRegistry("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleHotfix]\r\n\"Installed\"=-\r\n");
}

void SleepMilliseconds(unsigned milliseconds) { usleep(milliseconds * 1000u); }

void StartCopyOfSelf(const char* ownPath, const char* argument) {
  if (fork() == 0) {
    execl("/proc/self/exe", ownPath, argument, static_cast<char*>(nullptr));
    _exit(127);
  }
}
