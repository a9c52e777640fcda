// HKEY_LOCAL_MACHINE on Linux: what importing <prefix>/HKLM.reg, a registry export, into an empty
// registry would leave there. A missing or unreadable file, or one that is not a regular file, is
// an empty registry; errno tells which (a key the file does not hold is ENOENT).
#include "platform/registry.h"

#include <cerrno>
#include <cstring>

#include "common/fixed_text.h"
#include "platform/memory.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/reg_file.h"

struct RegistryKey {
  RegFileKey* values;
};

RegistryKey* OpenRegistryKey(const char* path, RegistryView) {
  char filePath[kMappedPathCapacity];
  if (!CopyBounded(filePath, sizeof filePath, PlatformPrefix()) ||
      !AppendBounded(filePath, sizeof filePath, "/HKLM.reg")) {
    return nullptr;
  }
  size_t length = 0;
  unsigned char* file = ReadRegularFile(filePath, &length);
  if (file == nullptr) return nullptr;
  errno = ENOENT;  // unless memory runs out
  RegFileKey* values = ImportRegFileKey(file, length, path != nullptr ? path : "");
  ReleaseBuffer(file);
  if (values == nullptr) return nullptr;
  auto* key = static_cast<RegistryKey*>(AllocateBuffer(sizeof(RegistryKey)));
  if (key == nullptr) {
    ReleaseRegFileKey(values);
    return nullptr;
  }
  key->values = values;
  return key;
}

int QueryRegistryValue(RegistryKey* key, const char* name, uint32_t* type, unsigned char* data,
                       uint32_t* size) {
  uint32_t storedType = 0;
  const unsigned char* stored = nullptr;
  uint32_t storedSize = 0;
  if (!FindRegFileValue(key->values, name != nullptr ? name : "", &storedType, &stored,
                        &storedSize)) {
    // As Windows does for a missing value: a size query reports type 0 and size 0, a read leaves
    // both alone.
    if (data == nullptr) {
      if (type != nullptr) *type = 0;
      if (size != nullptr) *size = 0;
    }
    return 0;
  }
  if (type != nullptr) *type = storedType;
  if (data == nullptr) {
    if (size != nullptr) *size = storedSize;
    return 1;
  }
  if (size == nullptr) return 0;  // a read without a size is refused as an invalid parameter
  bool fits = *size >= storedSize;
  if (fits && storedSize > 0) memcpy(data, stored, storedSize);
  *size = storedSize;  // also when it does not fit: the caller learns the size it needs
  return fits ? 1 : 0;
}

void CloseRegistryKey(RegistryKey* key) {
  if (key == nullptr) return;
  ReleaseRegFileKey(key->values);
  ReleaseBuffer(key);
}
