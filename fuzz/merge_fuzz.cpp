// The installer log's merge on the real Linux platform in a temporary prefix: any bytes as
// c:\tmp.log, merged into an empty run log, must give what the text-mode model gives.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "fuzz_input.h"
#include "runlog/runlog.h"

namespace {

std::string drive;  // <prefix>/drive_c

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemovePrefix() { nftw(getenv("HOTFIX_LAUNCHER_PREFIX"), RemoveEntry, 8, FTW_DEPTH); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Text-mode reading (CR LF gives LF, a lone CR stays, byte 26 ends the file), chunks of at most
// 239 bytes as fgets with 240 gives them, each cut at its first NUL and written with a line
// feed, and every line feed stored as CR LF.
std::string Model(const std::string& file) {
  std::string text;
  for (size_t i = 0; i < file.size() && file[i] != '\x1A'; ++i) {
    if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
    text += file[i];
  }
  std::string log;
  for (size_t at = 0; at < text.size();) {
    size_t lineEnd = text.find('\n', at);
    size_t length = lineEnd == std::string::npos ? text.size() - at : lineEnd - at + 1;
    std::string chunk = text.substr(at, std::min<size_t>(length, 239));
    at += chunk.size();
    for (char c : chunk.substr(0, chunk.find('\0')) + "\n") {
      log += c == '\n' ? "\r\n" : std::string(1, c);
    }
  }
  return log;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed when it can be, as every input is written and read back as files.
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  pattern += "/merge_fuzz.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  setenv("HOTFIX_LAUNCHER_PREFIX", pattern.c_str(), 1);
  drive = pattern + "/drive_c";
  if (mkdir(drive.c_str(), 0755) != 0) abort();
  atexit(RemovePrefix);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string installerLog(reinterpret_cast<const char*>(data), size);
  // Both paths are "c:\<name>".
  std::string runLogPath = drive + "/" + (kRunLogPath + 3);
  WriteFile(drive + "/" + (kInstallerLogPath + 3), installerLog);
  WriteFile(runLogPath, "");
  MergeInstallerLog();
  std::ifstream in(runLogPath, std::ios::binary);
  std::string runLog((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FUZZ_CHECK(runLog == Model(installerLog));
  return 0;
}
