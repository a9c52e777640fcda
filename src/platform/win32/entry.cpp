// The Windows entry: a GUI-subsystem program that opens no window. The command tail is taken from
// the process's own command line, by the launcher's rule rather than the C runtime's. Before
// anything else, DLLs may be loaded from the system folder only.
#include <windows.h>

#include "driver/driver.h"
#include "platform/codepage.h"

namespace {

constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The launcher lies in a hotfix folder beside files it did not bring and may run in any current
// directory: no DLL it or the system loads later may come from either. SetDefaultDllDirectories
// is present from Windows 8 and on 7 with update KB2533623, so it is looked up rather than
// imported; where it is missing, at least the current directory leaves the search order.
void RestrictDllSearch() {
  FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  auto setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
  if (setDefault != nullptr && setDefault(kSearchSystem32)) return;
  SetDllDirectoryA("");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  return RunInstall(SkipProgramName(GetCommandLineA(), IsAnsiLeadByte));
}
