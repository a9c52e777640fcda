// Heap buffers, kept behind the platform so that tests can make an allocation fail.
#pragma once

#include <cstddef>

/// Returns a zero-filled buffer of `size` bytes, or nullptr when none can be had.
void* AllocateBuffer(size_t size);
/// Grows or shrinks `buffer` (from AllocateBuffer or ResizeBuffer, or nullptr when `oldSize` is
/// 0) to `newSize` bytes: the first bytes up to the smaller size are kept and the bytes past
/// `oldSize` are zero. Returns the buffer, which may have moved, or nullptr when none can be
/// had; `buffer` is then unchanged and still the caller's to release.
void* ResizeBuffer(void* buffer, size_t oldSize, size_t newSize);
void ReleaseBuffer(void* buffer);
