// Heap buffers, kept behind the platform so that tests can make an allocation fail.
#pragma once

#include <cstddef>

/// Returns a zero-filled buffer of `size` bytes, or nullptr when none can be had.
void* AllocateBuffer(size_t size);
void ReleaseBuffer(void* buffer);
