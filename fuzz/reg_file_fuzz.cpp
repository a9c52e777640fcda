// The HKLM.reg import on arbitrary files: input = key path NUL value name NUL file bytes.
#include <cctype>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "platform/posix/reg_file.h"

namespace {

struct Found {
  int found = 0;
  uint32_t type = 0;
  std::vector<unsigned char> bytes;
  bool operator==(const Found&) const = default;
};

// Imports the file, looks the value up and copies its data out, which touches every byte.
// Two different presets prove that a found value's type and size were both set.
Found ImportAndFind(const std::vector<unsigned char>& file, const std::string& keyPath,
                    const std::string& valueName, int* opened) {
  auto path = ExactCopy(keyPath);
  auto name = ExactCopy(valueName);
  RegFileKey* key = ImportRegFileKey(file.data(), file.size(), path.get());
  *opened = key != nullptr;
  Found result;
  if (key == nullptr) return result;
  uint32_t types[2] = {0xA5A5A5A5, 0x5A5A5A5A};
  uint32_t sizes[2] = {0xA5A5A5A5, 0x5A5A5A5A};
  const unsigned char* where[2] = {nullptr, nullptr};
  int found = FindRegFileValue(key, name.get(), &types[0], &where[0], &sizes[0]);
  FUZZ_CHECK(FindRegFileValue(key, name.get(), &types[1], &where[1], &sizes[1]) == found);
  if (found) {
    FUZZ_CHECK(types[0] == types[1] && sizes[0] == sizes[1] && where[0] == where[1]);
    FUZZ_CHECK(where[0] != nullptr || sizes[0] == 0);
    result.found = 1;
    result.type = types[0];
    result.bytes.assign(where[0], where[0] + sizes[0]);
  }
  ReleaseRegFileKey(key);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input{data, data + size};
  std::string path = input.Field();
  std::string name = input.Field();
  std::vector<unsigned char> file(input.at, input.end);  // exactly the file's bytes

  int opened = 0;
  int openedAgain = 0;
  Found first = ImportAndFind(file, path, name, &opened);
  Found second = ImportAndFind(file, path, name, &openedAgain);
  FUZZ_CHECK(opened == openedAgain && first == second);
  // Key paths and value names match without regard to ASCII case.
  for (std::string* text : {&path, &name}) {
    for (char& c : *text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  Found upper = ImportAndFind(file, path, name, &openedAgain);
  FUZZ_CHECK(opened == openedAgain && first == upper);
  FUZZ_CHECK(!first.found || opened);
  return 0;
}
