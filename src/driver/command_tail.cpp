// The command tail of the launcher's own command line, as the C runtime's start-up computes it
// for WinMain, but with no byte above 127 taken for a separator.
#include "driver/driver.h"

const char* SkipProgramName(const char* commandLine, LeadByteRule isLeadByte) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') {
      if (isLeadByte(*p) && p[1] != '\0') ++p;
      ++p;
    }
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != '\0' && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}
