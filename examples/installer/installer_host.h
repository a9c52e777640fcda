// What the example installer needs of the system it runs on: raw file access to a Windows path,
// marking the hotfix installed in the registry, and sleeping.
#pragma once

#include <cstdio>

/// Opens a platform path for binary reading or writing ("rb", "wb"); nullptr when it cannot.
FILE* OpenRaw(const char* path, const char* mode);
/// Sets HKLM\SOFTWARE\ExampleHotfix "Installed" to the DWORD 1, in the launcher's registry view.
void MarkInstalled();
void SleepMilliseconds(unsigned milliseconds);
