// The process service on Windows: CreateProcessA and the process handle's wait and exit code. (The
// last-error code and its text are in system_error.cpp.)
#include "platform/process.h"

#include <windows.h>

#include <cstring>

#include "platform/memory.h"

struct ChildProcess {
  HANDLE process;
  HANDLE thread;
};

ChildProcess* StartProcess(const char* applicationPath, const char* commandLine) {
  auto* child = static_cast<ChildProcess*>(AllocateBuffer(sizeof(ChildProcess)));
  // CreateProcessA wants a command line it may write to.
  size_t size = strlen(commandLine) + 1;
  auto* writableLine = static_cast<char*>(AllocateBuffer(size));
  if (child == nullptr || writableLine == nullptr) {
    ReleaseBuffer(writableLine);
    ReleaseBuffer(child);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  memcpy(writableLine, commandLine, size);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  BOOL started = CreateProcessA(applicationPath, writableLine, nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info);
  // The caller reports the last-error code CreateProcessA left; releasing memory must not
  // replace it.
  DWORD error = GetLastError();
  ReleaseBuffer(writableLine);
  if (!started) {
    ReleaseBuffer(child);
    child = nullptr;
  } else {
    child->process = info.hProcess;
    child->thread = info.hThread;
  }
  SetLastError(error);
  return child;
}

void WaitForProcess(ChildProcess* child, uint32_t timeoutMs) {
  WaitForSingleObject(child->process, timeoutMs);
}

int ReadExitCode(ChildProcess* child, uint32_t* code) {
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(child->process, &exitCode)) return 0;
  *code = exitCode;
  return 1;
}

void CloseProcess(ChildProcess* child) {
  CloseHandle(child->process);
  CloseHandle(child->thread);
  ReleaseBuffer(child);
}
