// The run's reads of the settings and the registry on a real platform: the platform's own reads,
// as they are. (The dry platform notes each of them for the preflight's report.)
#include "platform/profile.h"
#include "platform/registry.h"

int ReadProfileString(const char* section, const char* key, char* buffer, int capacity,
                      const char* path) {
  return ReadProfileFile(section, key, buffer, capacity, path);
}

RegistryKey* OpenMachineKey(const char* path, RegistryView view) {
  return OpenRegistryKey(path, view);
}
