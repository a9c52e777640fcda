// The installation check: one registry value compared with the expected value, and the registry
// value reader it shares with the patch-info record.
#pragma once

#include <cstdint>

enum class RegistryReadResult {
  kKeyNotOpened,
  kValueMissing,  // the size query failed or reported 0 bytes
  kNoBuffer,
  kDataNotRead,
  kRead,
};

/// A value read whole: its registry type, and its data in a heap buffer of size + 40 bytes,
/// zero-filled beyond the data, so that as text it ends at its first NUL or after the data.
struct RegistryText {
  uint32_t type = 0;
  uint32_t size = 0;
  unsigned char* data = nullptr;
};

/// Reads one value under HKEY_LOCAL_MACHINE. Only kRead fills `value`, whose buffer the caller
/// then releases with ReleaseRegistryText.
RegistryReadResult ReadRegistryText(const char* keyPath, const char* valueName,
                                    RegistryText* value);
void ReleaseRegistryText(RegistryText* value);

/// Reads a decimal integer as formatted input with "%d" does: leading white space, an optional
/// sign, then digits, wrapping on 32-bit overflow. Returns 1 with *number set, or 0 when the text
/// holds no number.
int ReadDecimal(const char* text, int32_t* number);
/// Returns 1 when the check value is there and matches the expected value, 0 otherwise; every
/// failure and mismatch is reported in the run log.
int CheckInstalled(const char* launcherDirectory, const char* launcherName, const char* checkKey,
                   const char* checkValueName, const char* expectedValue, const char* patchId);
