// The example installer on Windows: plain files, the registry in the 32-bit view that the launcher
// reads, and Sleep.
#include <windows.h>

#include "installer_host.h"

FILE* OpenRaw(const char* path, const char* mode) { return fopen(path, mode); }

void MarkInstalled() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ExampleHotfix", 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  DWORD installed = 1;
  RegSetValueExA(key, "Installed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed),
                 sizeof installed);
  RegCloseKey(key);
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }
