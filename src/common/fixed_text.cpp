// Bounded copy and append for fixed-capacity texts.
#include "common/fixed_text.h"

#include <cstring>

int CopyBounded(char* to, size_t capacity, const char* from) {
  if (capacity == 0) return 0;
  to[0] = '\0';
  return AppendBounded(to, capacity, from);
}

int AppendBounded(char* to, size_t capacity, const char* from) {
  if (capacity == 0) return 0;
  size_t used = strnlen(to, capacity - 1);
  size_t room = capacity - 1 - used;
  size_t length = strlen(from);
  size_t taken = length < room ? length : room;
  memcpy(to + used, from, taken);
  to[used + taken] = '\0';
  return taken == length ? 1 : 0;
}
