// HKEY_LOCAL_MACHINE on Linux: what importing <prefix>/HKLM.reg, a registry export, into an empty
// registry would leave there. A missing or unreadable file, or one that is not a regular file, is
// an empty registry.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/fixed_text.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/reg_file.h"

struct RegistryKey {
  RegFileKey* values;
};

namespace {

// Reads the whole file into a heap buffer (released by the caller); 0 when it cannot.
int ReadWholeFile(const char* path, unsigned char** bytes, size_t* length) {
  struct stat status;
  int descriptor = OpenRegularFile(path, O_RDONLY, &status);
  if (descriptor < 0) return 0;
  size_t capacity = static_cast<size_t>(status.st_size);
  auto* buffer = static_cast<unsigned char*>(malloc(capacity + 1));
  size_t used = 0;
  while (buffer != nullptr && used < capacity) {
    ssize_t got = read(descriptor, buffer + used, capacity - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // a file cut while it is read is read as far as it goes
    used += static_cast<size_t>(got);
  }
  close(descriptor);
  if (buffer == nullptr) return 0;
  *bytes = buffer;
  *length = used;
  return 1;
}

}  // namespace

RegistryKey* OpenMachineKey(const char* path) {
  char filePath[kMappedPathCapacity];
  if (!CopyBounded(filePath, sizeof filePath, PlatformPrefix()) ||
      !AppendBounded(filePath, sizeof filePath, "/HKLM.reg")) {
    return nullptr;
  }
  unsigned char* file = nullptr;
  size_t length = 0;
  if (!ReadWholeFile(filePath, &file, &length)) return nullptr;
  RegFileKey* values = ImportRegFileKey(file, length, path != nullptr ? path : "");
  free(file);
  if (values == nullptr) return nullptr;
  RegistryKey* key = static_cast<RegistryKey*>(malloc(sizeof(RegistryKey)));
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
  free(key);
}
