// The Linux profile reader's parser, apart from the file it reads, so that it can be driven
// from bytes in memory.
#pragma once

#include <cstddef>

/// Looks up `key` of `section` in a profile file's raw bytes (`size` bytes, rewritten in place
/// when they are UTF-16LE) with ReadProfileString's rules: fills `buffer` (always NUL-terminated,
/// empty when the section or key is absent) and returns the characters copied, at most
/// capacity - 1; nothing is written when capacity is not positive.
int ReadProfileText(unsigned char* contents, size_t size, const char* section, const char* key,
                    char* buffer, int capacity);
