// The example installer on Windows: plain files, the registry in the 32-bit view that the launcher
// reads, Sleep, and CreateProcessA for its copy.
#include <windows.h>

#include <cstdio>
#include <string>

#include "installer_host.h"

FILE* OpenRaw(const char* path, const char* mode) { return fopen(path, mode); }

void RemoveRaw(const char* path) { remove(path); }

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

void UnmarkInstalled() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ExampleHotfix", 0,
                    KEY_SET_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, "Installed");
  RegCloseKey(key);
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

// The copy is started from the module's own path, so it needs no search; it gets no console.
void StartCopyOfSelf(const char*, const char* argument) {
  char program[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length == sizeof program) return;
  std::string line = std::string("\"") + program + "\" " + argument;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                     nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}
