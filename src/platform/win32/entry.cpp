// The Windows entry: a GUI-subsystem program that opens no window. The command tail is taken from
// the process's own command line, by the launcher's rule rather than the C runtime's.
#include <windows.h>

#include "driver/driver.h"
#include "platform/codepage.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunInstall(SkipProgramName(GetCommandLineA(), IsAnsiLeadByte));
}
