// Read access to values under HKEY_LOCAL_MACHINE, in the view a 32-bit process has.
#pragma once

#include <cstdint>

struct RegistryKey;

constexpr uint32_t kRegistryDword = 4;  // REG_DWORD: a little-endian 32-bit number

/// Opens a key under HKEY_LOCAL_MACHINE for reading; nullptr when it cannot be opened.
RegistryKey* OpenMachineKey(const char* path);
/// Queries a value as RegQueryValueExA does. With `data` nullptr it only learns the type and the
/// size; otherwise it reads the data into at most *size bytes. Sets *type and *size (the value's
/// full size) and returns 1, or returns 0 when the value is missing or does not fit.
int QueryRegistryValue(RegistryKey* key, const char* name, uint32_t* type, unsigned char* data,
                       uint32_t* size);
void CloseRegistryKey(RegistryKey* key);
