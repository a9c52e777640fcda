// The process service on Windows: CreateProcessA and the process handle's wait and exit code,
// and the thread's last-error code with FormatMessageA's text for it.
#include "platform/process.h"

#include <windows.h>

#include <cstring>

#include "platform/memory.h"

struct ChildProcess {
  HANDLE process;
  HANDLE thread;
};

namespace {

constexpr DWORD kSystemMessageFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

}  // namespace

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

ProgramFile InspectProgramFile(const char* applicationPath) {
  DWORD attributes = GetFileAttributesA(applicationPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) return ProgramFile::kMissing;
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0
             ? ProgramFile::kNotRegular
             : ProgramFile::kProgram;
}

InstallationActivity ReadInstallationActivity() {
  // The Windows Installer holds this mutex while it runs an installation; a mutex that exists but
  // may not be opened by this user is there all the same.
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute");
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return InstallationActivity::kRunning;
  }
  return GetLastError() == ERROR_ACCESS_DENIED ? InstallationActivity::kRunning
                                               : InstallationActivity::kNone;
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

uint32_t ReadLastError() { return GetLastError(); }

int FormatSystemMessage(uint32_t code, char** text) {
  char* buffer = nullptr;
  DWORD length = FormatMessageA(kSystemMessageFlags, nullptr, code, kUserDefaultLanguage,
                                reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0) return 0;
  *text = buffer;
  return static_cast<int>(length);
}

void ReleaseSystemMessage(char* text) { LocalFree(text); }
