// Profile (INI) files, read one key at a time.
#pragma once

/// Reads `key` of `section` from the profile file at `path` as GetPrivateProfileStringA does with
/// no default: fills `buffer` (always NUL-terminated, empty when the file, section or key is
/// absent) and returns the number of characters copied, at most capacity - 1.
int ReadProfileString(const char* section, const char* key, char* buffer, int capacity,
                      const char* path);
/// The platform's own reader behind ReadProfileString, which is this read on a real platform and
/// this read noted in the preflight's journal on the dry one.
int ReadProfileFile(const char* section, const char* key, char* buffer, int capacity,
                    const char* path);
