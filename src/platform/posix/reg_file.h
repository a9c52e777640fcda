// The registry export (.reg) format, imported the way the registry editor imports it but kept
// only for one key of HKEY_LOCAL_MACHINE: how the Linux port reads <prefix>/HKLM.reg.
#pragma once

#include <cstddef>
#include <cstdint>

/// The values one key holds once a whole .reg file has been imported into an empty registry.
struct RegFileKey;

/// Imports the .reg file in `file` (`length` bytes, the raw file contents) from top to bottom
/// and keeps what it leaves in HKEY_LOCAL_MACHINE\`path`. Returns the key, or nullptr when the
/// import leaves no such key (or memory ran out). Release the key with ReleaseRegFileKey.
RegFileKey* ImportRegFileKey(const unsigned char* file, size_t length, const char* path);
/// Finds the value `name` (compared without regard to ASCII case; "" is the default value).
/// Returns 1 and points `data` into the key's own storage, or 0 when the key has no such value.
int FindRegFileValue(const RegFileKey* key, const char* name, uint32_t* type,
                     const unsigned char** data, uint32_t* size);
void ReleaseRegFileKey(RegFileKey* key);
