// Read access to values under HKEY_LOCAL_MACHINE, in the view the launcher reads or in the one
// Windows keeps its own settings in.
#pragma once

#include <cstdint>

struct RegistryKey;

constexpr uint32_t kRegistryDword = 4;  // REG_DWORD: a little-endian 32-bit number

enum class RegistryView {
  kLauncher,  // what the 32-bit launcher sees: on 64-bit Windows, SOFTWARE is Wow6432Node
  kSystem,    // the 64-bit view on 64-bit Windows, where Windows itself keeps its markers
};

/// Opens a key under HKEY_LOCAL_MACHINE for reading in `view`; nullptr when it cannot be opened.
/// The Linux port has one registry, which both views show.
RegistryKey* OpenMachineKey(const char* path, RegistryView view);
/// The platform's own open behind OpenMachineKey, which is this open on a real platform and this
/// open noted in the preflight's journal on the dry one. When it fails, the thread's last-error
/// code says why: the key is not there, or it could not be read.
RegistryKey* OpenRegistryKey(const char* path, RegistryView view);
/// Queries a value as RegQueryValueExA does. With `data` nullptr it only learns the type and the
/// size; otherwise it reads the data into at most *size bytes. Sets *type and *size (the value's
/// full size) and returns 1, or returns 0 when the value is missing or does not fit.
int QueryRegistryValue(RegistryKey* key, const char* name, uint32_t* type, unsigned char* data,
                       uint32_t* size);
void CloseRegistryKey(RegistryKey* key);
