// Heap buffers from the C runtime, the same on every platform.
#include "platform/memory.h"

#include <cstdlib>

void* AllocateBuffer(size_t size) { return calloc(1, size); }

void ReleaseBuffer(void* buffer) { free(buffer); }
