// The Windows entry: a GUI-subsystem program that opens no window. The command tail is taken from
// the process's own command line, by the launcher's rule rather than the C runtime's. Before
// anything else, DLLs may be loaded from the system folder only.
#include <windows.h>

#include "driver/driver.h"
#include "platform/codepage.h"
#include "platform/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictLibrarySearch();
  return RunInstall(SkipProgramName(GetCommandLineA(), IsAnsiLeadByte));
}
