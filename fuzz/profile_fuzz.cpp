// The Linux profile reader on arbitrary files: input = section NUL key NUL file bytes.
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "platform/shared/profile_text.h"

namespace {

// Reads from a fresh copy each time, as the reader rewrites a UTF-16 file in place.
int Read(const std::string& file, const std::string& section, const std::string& key, char* buffer,
         int capacity) {
  std::vector<unsigned char> contents(file.begin(), file.end());
  memset(buffer, 'X', static_cast<size_t>(capacity));
  return ReadProfileText(contents.data(), contents.size(), ExactCopy(section).get(),
                         ExactCopy(key).get(), buffer, capacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input{data, data + size};
  std::string section = input.Field();
  std::string key = input.Field();
  std::string file = input.Rest();

  char whole[260];
  int wholeLength = Read(file, section, key, whole, sizeof whole);
  for (int capacity : {1, 2, 260}) {
    char buffer[260];
    int copied = Read(file, section, key, buffer, capacity);
    FUZZ_CHECK(copied >= 0 && copied <= capacity - 1);
    FUZZ_CHECK(memchr(buffer, '\0', static_cast<size_t>(capacity)) == buffer + copied);
    // A short buffer gets the start of what a long one gets.
    FUZZ_CHECK(copied == (wholeLength < capacity - 1 ? wholeLength : capacity - 1));
    FUZZ_CHECK(memcmp(buffer, whole, static_cast<size_t>(copied)) == 0);
  }
  return 0;
}
