// An example hotfix installer for the demo bundle and the end-to-end tests, driven by its switches:
//   /log:PATH    where to write its log: the bytes of installer-log.bin beside it when that file
//                exists, else one line that lists the arguments it received;
//   /mark        marks the hotfix installed in the registry;
//   /sleep:MS    sleeps before it ends;
//   /exit:N      ends with exit code N (0 by default).
#include <cstdlib>
#include <cstring>
#include <string>

#include "installer_host.h"

namespace {

void WriteLog(const char* logPath, const std::string& ownPath, int argc, char** argv) {
  FILE* log = OpenRaw(logPath, "wb");
  if (log == nullptr) return;
  size_t separator = ownPath.find_last_of("\\/");
  std::string logSource = ownPath.substr(0, separator + 1) + "installer-log.bin";
  if (FILE* source = OpenRaw(logSource.c_str(), "rb")) {
    char buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, source)) > 0) fwrite(buffer, 1, count, log);
    fclose(source);
  } else {
    fputs("installer arguments:", log);
    for (int i = 1; i < argc; ++i) fprintf(log, " [%s]", argv[i]);
    fputs("\r\n", log);
  }
  fclose(log);
}

}  // namespace

int main(int argc, char** argv) {
  long exitCode = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strncmp(arg, "/log:", 5) == 0) WriteLog(arg + 5, argv[0], argc, argv);
    if (strcmp(arg, "/mark") == 0) MarkInstalled();
    if (strncmp(arg, "/sleep:", 7) == 0) SleepMilliseconds(static_cast<unsigned>(atol(arg + 7)));
    if (strncmp(arg, "/exit:", 6) == 0) exitCode = strtol(arg + 6, nullptr, 10);
  }
  return static_cast<int>(exitCode);
}
