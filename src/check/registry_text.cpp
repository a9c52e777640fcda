// Reading one registry value whole: open, learn type and size, read, close.
#include "check/check.h"
#include "platform/memory.h"
#include "platform/registry.h"

namespace {

constexpr uint32_t kSpareBytes = 40;

}  // namespace

RegistryReadResult ReadRegistryText(const char* keyPath, const char* valueName,
                                    RegistryText* value) {
  RegistryKey* key = OpenMachineKey(keyPath, RegistryView::kLauncher);
  if (key == nullptr) return RegistryReadResult::kKeyNotOpened;
  uint32_t type = 0;
  uint32_t size = 0;
  if (!QueryRegistryValue(key, valueName, &type, nullptr, &size) || size == 0) {
    CloseRegistryKey(key);
    return RegistryReadResult::kValueMissing;
  }
  // Zero-filled and 40 bytes longer than the data, so that a text stored without its NUL
  // still ends inside the buffer.
  auto* data = static_cast<unsigned char*>(AllocateBuffer(size_t{size} + kSpareBytes));
  if (data == nullptr) {
    CloseRegistryKey(key);
    return RegistryReadResult::kNoBuffer;
  }
  uint32_t readSize = size;
  if (!QueryRegistryValue(key, valueName, &type, data, &readSize)) {
    ReleaseBuffer(data);
    CloseRegistryKey(key);
    return RegistryReadResult::kDataNotRead;
  }
  CloseRegistryKey(key);
  value->type = type;
  value->size = readSize;
  value->data = data;
  return RegistryReadResult::kRead;
}

void ReleaseRegistryText(RegistryText* value) {
  ReleaseBuffer(value->data);
  value->data = nullptr;
}
