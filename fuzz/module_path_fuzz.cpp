// SplitModulePath on arbitrary paths, with no lead bytes and with code page 932's.
#include <cstring>

#include "fuzz_input.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto path = ExactCopy(FuzzInput{data, data + size}.Field());
  const char* input = path.get();
  for (LeadByteRule rule : {NoLeadBytes, CodePage932LeadByte}) {
    LauncherLocation location;
    memset(&location, 'X', sizeof location);  // no NUL left over from before
    int whole = SplitModulePath(input, rule, &location);
    const char* directory = location.directory.text;
    const char* name = location.name.text;
    size_t directoryLength = strnlen(directory, sizeof location.directory.text);
    size_t nameLength = strnlen(name, sizeof location.name.text);
    FUZZ_CHECK(directoryLength <= 257 && nameLength <= 255);
    // Drive and directory are the path's own first bytes; the name comes after them.
    FUZZ_CHECK(strncmp(directory, input, directoryLength) == 0);
    FUZZ_CHECK(strstr(input + directoryLength, name) != nullptr);
    if (rule == NoLeadBytes) FUZZ_CHECK(strpbrk(name, "\\/") == nullptr);
    // Only a part that reached its 255 characters can have been cut.
    FUZZ_CHECK(whole || directoryLength >= 255 || nameLength == 255);

    LauncherLocation again;
    SplitModulePath(input, rule, &again);
    FUZZ_CHECK(strcmp(again.directory.text, directory) == 0 && strcmp(again.name.text, name) == 0);
  }
  return 0;
}
