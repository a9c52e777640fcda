// The run's reads of the settings and the registry on a real platform: the platform's own reads,
// as they are; and the run's marks of its steps, which a real platform does not keep. (The dry
// platform notes each of them for the preflight's report.)
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/run_steps.h"

int ReadProfileString(const char* section, const char* key, char* buffer, int capacity,
                      const char* path) {
  return ReadProfileFile(section, key, buffer, capacity, path);
}

RegistryKey* OpenMachineKey(const char* path, RegistryView view) {
  return OpenRegistryKey(path, view);
}

void MarkRunStep(const RunStepMark&) {}
