// The installation check: the registry value named by the settings against the expected value.
#include "check/check.h"

#include <cstdio>
#include <cstring>

#include "platform/registry.h"
#include "runlog/runlog.h"

namespace {

// A DWORD counts by its first byte alone, its least significant one.
int DwordMatches(const RegistryText& value, const char* expectedValue, int* firstByte) {
  *firstByte = value.data[0];
  int32_t expected = 0;
  return ReadDecimal(expectedValue, &expected) && expected == *firstByte;
}

// Any other type matches when its text holds any one character of the expected value.
int TextMatches(const RegistryText& value, const char* expectedValue) {
  const char* text = reinterpret_cast<const char*>(value.data);
  return strpbrk(text, expectedValue) != nullptr;
}

}  // namespace

int CheckInstalled(const char* launcherDirectory, const char* launcherName, const char* checkKey,
                   const char* checkValueName, const char* expectedValue, const char* patchId) {
  auto report = [&](const char* message) {
    WriteLogRecord(patchId, launcherDirectory, launcherName, message);
  };
  RegistryText value;
  switch (ReadRegistryText(checkKey, checkValueName, &value)) {
    case RegistryReadResult::kKeyNotOpened:
      report("Failed RegOpenKeyEx");
      report(checkKey);
      return 0;
    case RegistryReadResult::kValueMissing:
      report("Failed RegQueryValueEx Installed");
      report(checkKey);
      report(checkValueName);
      return 0;
    case RegistryReadResult::kNoBuffer:
      return 0;
    case RegistryReadResult::kDataNotRead:
      report("Failed Read value Installed");
      report(checkKey);
      report(checkValueName);
      return 0;
    case RegistryReadResult::kRead:
      break;
  }

  int installed = 0;
  if (value.type == kRegistryDword) {
    int firstByte = 0;
    installed = DwordMatches(value, expectedValue, &firstByte);
    if (!installed) {
      char firstByteText[16];
      snprintf(firstByteText, sizeof firstByteText, "%d", firstByte);
      report("Value in Registry is not the 1 value");
      report(checkKey);
      report(checkValueName);
      report(firstByteText);
    }
  } else {
    installed = TextMatches(value, expectedValue);
    if (!installed) report("0x1 wasnot fount in Registry Installed value");
  }
  ReleaseRegistryText(&value);
  return installed;
}
