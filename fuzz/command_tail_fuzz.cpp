// SkipProgramName on arbitrary command lines, with no lead bytes and with code page 932's.
#include <cstring>

#include "driver/driver.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto line = ExactCopy(FuzzInput{data, data + size}.Field());
  const char* start = line.get();
  for (LeadByteRule rule : {NoLeadBytes, CodePage932LeadByte}) {
    const char* tail = SkipProgramName(start, rule);
    FUZZ_CHECK(tail >= start && tail <= start + strlen(start));
    FUZZ_CHECK(*tail == '\0' || static_cast<unsigned char>(*tail) > ' ');
    FUZZ_CHECK(SkipProgramName(start, rule) == tail);
  }
  return 0;
}
