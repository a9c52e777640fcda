// The executable's path from the module handle of the process.
#include "platform/module_path.h"

#include <windows.h>

void ReadModulePath(char* buffer, int capacity) {
  if (capacity <= 0) return;
  DWORD length =
      GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, static_cast<DWORD>(capacity));
  // A path that does not fit fills the buffer (older systems leave it without a NUL): a cut path
  // names another folder, so it counts as none.
  if (length == 0 || length >= static_cast<DWORD>(capacity)) length = 0;
  buffer[length] = '\0';
}
