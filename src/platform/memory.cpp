// Heap buffers from the C runtime, the same on every platform.
#include "platform/memory.h"

#include <cstdlib>
#include <cstring>

void* AllocateBuffer(size_t size) { return calloc(1, size); }

void* ResizeBuffer(void* buffer, size_t oldSize, size_t newSize) {
  // realloc may free a buffer resized to 0 bytes and return nullptr; one byte is always kept.
  void* resized = realloc(buffer, newSize != 0 ? newSize : 1);
  if (resized != nullptr && newSize > oldSize) {
    memset(static_cast<unsigned char*>(resized) + oldSize, 0, newSize - oldSize);
  }
  return resized;
}

void ReleaseBuffer(void* buffer) { free(buffer); }
