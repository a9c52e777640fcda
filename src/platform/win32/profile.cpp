// Profile (INI) files through the system's own reader.
#include "platform/profile.h"

#include <windows.h>

int ReadProfileFile(const char* section, const char* key, char* buffer, int capacity,
                    const char* path) {
  if (capacity <= 0) return 0;
  buffer[0] = '\0';
  DWORD copied =
      GetPrivateProfileStringA(section, key, nullptr, buffer, static_cast<DWORD>(capacity), path);
  // Terminated here at the count returned rather than trusting every version of the reader to.
  if (copied >= static_cast<DWORD>(capacity)) copied = static_cast<DWORD>(capacity) - 1;
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}
