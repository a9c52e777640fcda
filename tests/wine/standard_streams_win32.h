// Hands a child process this process's standard streams, so that what the child writes reaches
// wine's own standard output and error: shared by the test helpers that run a command and report
// its full exit code.
#pragma once

#include <windows.h>

/// Sets `startup` to pass this process's standard input, output and error to the child, and makes
/// them inheritable (the child must be created with bInheritHandles TRUE).
inline void InheritStandardStreams(STARTUPINFOA* startup) {
  startup->dwFlags |= STARTF_USESTDHANDLES;
  HANDLE* streams[] = {&startup->hStdInput, &startup->hStdOutput, &startup->hStdError};
  DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    *streams[i] = GetStdHandle(kinds[i]);
    SetHandleInformation(*streams[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
}
