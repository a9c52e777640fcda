// Profile (INI) files, read one key at a time.
#pragma once

/// Reads `key` of `section` from the profile file at `path` as GetPrivateProfileStringA does with
/// no default: fills `buffer` (always NUL-terminated, empty when the file, section or key is
/// absent) and returns the number of characters copied, at most capacity - 1.
int ReadProfileString(const char* section, const char* key, char* buffer, int capacity,
                      const char* path);
