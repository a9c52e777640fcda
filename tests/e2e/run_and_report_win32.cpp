// Runs the command line written in C:\hotfix\command.txt, waits for it and prints its full 32-bit
// exit code, which a Linux exit status (8 bits) could not carry out of wine. Given a folder, it
// saves HKEY_LOCAL_MACHINE there right before (before.reg) and after (after.reg) the command, which
// then writes to this program's own standard streams. With --hold=PATH it holds that file open
// while the command runs, sharing it with readers only, as a program still writing it would.
//
//   run_and_report [--hold=PATH] [FOLDER]
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "../wine/standard_streams_win32.h"

namespace {

// Wine saves a whole branch, HKEY_LOCAL_MACHINE included, as text with each key's time.
void SaveMachineKey(const char* folder, const char* name) {
  char path[MAX_PATH];
  snprintf(path, sizeof path, "%s\\%s", folder, name);
  DeleteFileA(path);
  LONG saved = RegSaveKeyA(HKEY_LOCAL_MACHINE, path, nullptr);
  if (saved != ERROR_SUCCESS) printf("save failed %ld\n", saved);
}

void EnableBackupPrivilege() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &privileges.Privileges[0].Luid);
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
}

}  // namespace

int main(int argc, char** argv) {
  const char* saves = nullptr;
  const char* held = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--hold=", 7) == 0) {
      held = argv[i] + 7;
    } else {
      saves = argv[i];
    }
  }
  HANDLE holder = INVALID_HANDLE_VALUE;
  if (held != nullptr) {
    holder = CreateFileA(held, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (holder == INVALID_HANDLE_VALUE) printf("hold failed %lu\n", GetLastError());
  }
  char line[40000] = "";
  FILE* file = fopen("C:\\hotfix\\command.txt", "rb");
  if (file == nullptr) return 2;
  size_t length = fread(line, 1, sizeof line - 1, file);
  fclose(file);
  line[length] = '\0';
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (saves != nullptr) {
    EnableBackupPrivilege();
    SaveMachineKey(saves, "before.reg");
    InheritStandardStreams(&startup);
  }
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, saves != nullptr, 0, nullptr, nullptr,
                      &startup, &process)) {
    printf("start failed %lu\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  if (saves != nullptr) SaveMachineKey(saves, "after.reg");
  if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
  printf("exit=%ld\n", static_cast<long>(static_cast<LONG>(code)));
  return 0;
}
