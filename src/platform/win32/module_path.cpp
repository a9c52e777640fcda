// The executable's path from the module handle of the process.
#include "platform/module_path.h"

#include <windows.h>

void ReadModulePath(char* buffer, int capacity) {
  if (capacity <= 0) return;
  buffer[0] = '\0';
  DWORD length =
      GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, static_cast<DWORD>(capacity));
  // A cut path fills the buffer; older systems leave it without a NUL.
  if (length >= static_cast<DWORD>(capacity)) length = static_cast<DWORD>(capacity) - 1;
  buffer[length] = '\0';
}
