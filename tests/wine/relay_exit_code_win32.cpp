// Runs the command line that follows its first argument with its own standard streams, waits for
// it and writes its full 32-bit exit code to the file its first argument names, which lies outside
// the Wine prefix: a Linux exit status (8 bits) could not carry it out of wine.
//
//   relay_exit_code.exe CODE_FILE COMMAND_LINE
//
// CODE_FILE then holds "exit N" (N unsigned, as GetExitCodeProcess gives it) or, when the command
// could not start, "start E" (E the system's error code). The relay's own status is 0 once the
// file is written, 2 when it was given no command line, 3 when the file cannot be written and 4
// when the ended command's code cannot be read (no file is written then: no code is no 0).
#include <windows.h>

#include <cstring>

#include "standard_streams_win32.h"

namespace {

// The command line after its first `count` arguments, as the C runtime splits them (a quoted
// part may hold blanks; these arguments hold no quotes of their own).
char* SkipArguments(char* line, int count) {
  for (int i = 0; i < count; ++i) {
    bool quoted = false;
    while (*line != '\0' && (quoted || (*line != ' ' && *line != '\t'))) {
      if (*line == '"') quoted = !quoted;
      ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
  }
  return line;
}

// CODE_FILE is the first argument, quoted or not.
bool CodeFilePath(char* line, char* path, size_t capacity) {
  char* start = SkipArguments(line, 1);
  char* end = SkipArguments(start, 1);
  while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (*start == '"') ++start;
  if (end > start && end[-1] == '"') --end;
  size_t length = static_cast<size_t>(end - start);
  if (length == 0 || length >= capacity) return false;
  memcpy(path, start, length);
  path[length] = '\0';
  return true;
}

bool WriteCode(const char* path, const char* kind, unsigned long value) {
  char text[32];
  int length = wsprintfA(text, "%s %lu\n", kind, value);
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  return ok && written == static_cast<DWORD>(length);
}

}  // namespace

int main() {
  char* line = GetCommandLineA();
  char codeFile[MAX_PATH];
  char* command = SkipArguments(line, 2);
  if (!CodeFilePath(line, codeFile, MAX_PATH) || *command == '\0') return 2;

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  InheritStandardStreams(&startup);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return WriteCode(codeFile, "start", GetLastError()) ? 0 : 3;
  }
  // The code is read only once the process has ended: 259 is also STILL_ACTIVE.
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  BOOL read = GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!read) return 4;
  return WriteCode(codeFile, "exit", code) ? 0 : 3;
}
