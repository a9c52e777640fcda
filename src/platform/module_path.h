// The full path of the running executable.
#pragma once

/// Fills `buffer` with the executable's full path, cut to capacity - 1 characters and always
/// NUL-terminated; empty when the path cannot be had.
void ReadModulePath(char* buffer, int capacity);
