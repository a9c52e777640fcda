// What the example installer needs of the system it runs on: raw file access to a Windows path,
// marking the hotfix installed in the registry, sleeping, and starting a copy of itself.
#pragma once

#include <cstdio>

/// Opens a platform path for binary reading or writing ("rb", "wb"); nullptr when it cannot.
FILE* OpenRaw(const char* path, const char* mode);
/// Deletes the file at a platform path; a failure is ignored.
void RemoveRaw(const char* path);
/// Sets HKLM\SOFTWARE\ExampleHotfix "Installed" to the DWORD 1, in the launcher's registry view.
void MarkInstalled();
/// Deletes that value, in the same view; a value or key that is not there is left so.
void UnmarkInstalled();
void SleepMilliseconds(unsigned milliseconds);
/// Starts this program again with `ownPath` as its program name and the one `argument`, and does
/// not wait for it; a failed start is ignored.
void StartCopyOfSelf(const char* ownPath, const char* argument);
