// Start-up on Windows: DLLs may be loaded from the system folder only.
#include "platform/startup.h"

#include <windows.h>

namespace {

constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

// The programs lie in a hotfix folder beside files they did not bring and may run in any current
// directory: no DLL they or the system load later may come from either. SetDefaultDllDirectories
// is present from Windows 8 and on 7 with update KB2533623, so it is looked up rather than
// imported; where it is missing, at least the current directory leaves the search order.
void RestrictLibrarySearch() {
  FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  auto setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
  if (setDefault != nullptr && setDefault(kSearchSystem32)) return;
  SetDllDirectoryA("");
}
