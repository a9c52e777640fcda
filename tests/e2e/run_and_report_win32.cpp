// Runs the command line written in C:\hotfix\command.txt, waits for it and prints its full 32-bit
// exit code, which a Linux exit status (8 bits) could not carry out of wine.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  char line[40000] = "";
  FILE* file = fopen("C:\\hotfix\\command.txt", "rb");
  if (file == nullptr) return 2;
  size_t length = fread(line, 1, sizeof line - 1, file);
  fclose(file);
  line[length] = '\0';
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    printf("start failed %lu\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  printf("exit=%ld\n", static_cast<long>(static_cast<LONG>(code)));
  return 0;
}
