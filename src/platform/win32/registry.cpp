// HKEY_LOCAL_MACHINE through the Win32 registry functions (ANSI variants), read-only.

// The launcher's view: none for the 32-bit product; the build gives a 64-bit build
// KEY_WOW64_32KEY, so that it sees what the 32-bit product sees on 64-bit Windows. The system
// view is KEY_WOW64_64KEY, which 32-bit Windows ignores.
#ifndef HOTFIX_REGISTRY_VIEW_FLAGS
#define HOTFIX_REGISTRY_VIEW_FLAGS 0
#endif

#include "platform/registry.h"

#include <windows.h>

#include "platform/memory.h"

struct RegistryKey {
  HKEY handle;
};

RegistryKey* OpenRegistryKey(const char* path, RegistryView view) {
  HKEY handle = nullptr;
  REGSAM viewFlags = view == RegistryView::kSystem ? KEY_WOW64_64KEY : HOTFIX_REGISTRY_VIEW_FLAGS;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | viewFlags, &handle);
  if (result != ERROR_SUCCESS) {
    // The registry returns its code rather than leaving it as the thread's last error.
    SetLastError(static_cast<DWORD>(result));
    return nullptr;
  }
  auto* key = static_cast<RegistryKey*>(AllocateBuffer(sizeof(RegistryKey)));
  if (key == nullptr) {
    RegCloseKey(handle);
    return nullptr;
  }
  key->handle = handle;
  return key;
}

int QueryRegistryValue(RegistryKey* key, const char* name, uint32_t* type, unsigned char* data,
                       uint32_t* size) {
  // DWORD is not uint32_t's type on Windows, so the call works on copies; starting them from the
  // caller's values leaves untouched whatever the call leaves untouched.
  DWORD valueType = type != nullptr ? *type : 0;
  DWORD valueSize = size != nullptr ? *size : 0;
  LONG result = RegQueryValueExA(key->handle, name, nullptr, type != nullptr ? &valueType : nullptr,
                                 data, size != nullptr ? &valueSize : nullptr);
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = valueSize;
  return result == ERROR_SUCCESS ? 1 : 0;
}

void CloseRegistryKey(RegistryKey* key) {
  if (key == nullptr) return;
  RegCloseKey(key->handle);
  ReleaseBuffer(key);
}
