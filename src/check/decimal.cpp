// "%d" reading of the expected value, with 32-bit wrap-around that does not depend on the C
// library's handling of overflow.
#include "check/check.h"

int ReadDecimal(const char* text, int32_t* number) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  *number = static_cast<int32_t>(negative ? 0u - value : value);
  return 1;
}
