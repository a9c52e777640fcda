// The full path of the running executable.
#pragma once

/// Fills `buffer` with the executable's full path, always NUL-terminated; empty when the path
/// cannot be had or does not fit.
void ReadModulePath(char* buffer, int capacity);
