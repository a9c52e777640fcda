// A fake platform for the core's tests, built only with them: in-memory files, registry, settings
// and installer, with a countdown that fails the N-th acquisition and counters of what was
// acquired and released. It sits beside the dry platform, the other one a program links in place
// of the real one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FakeValue {
  uint32_t type;
  std::string data;  // the stored bytes, NULs included
};

enum class FakeResource { kBuffer, kFile, kKey, kProcess, kMessage, kCount };

struct FakePlatform {
  // Files by platform path; text as written, line feeds unconverted.
  std::map<std::string, std::string> files;
  // Settings file contents as key -> value of the settings section; absent keys read empty.
  std::map<std::string, std::string> settings;
  bool settingsFilePresent = true;
  // Registry: key path (as asked for) -> value name -> value.
  std::map<std::string, std::map<std::string, FakeValue>> registry;
  std::string modulePath = "C:\\hotfix\\kb1\\setup.exe";

  // The installer.
  bool startFails = false;
  bool exitCodeFails = false;
  uint32_t exitCode = 0;
  uint32_t lastError = 2;
  std::string started;  // application path and command line of the last start

  // The run's marks of its steps, in order, as "<step> <what it decided>" (see MarkRunStep).
  std::vector<std::string> marks;

  // Reads of a value's data (not its size) fail.
  bool dataReadFails = false;
  // The N-th acquisition of any resource fails (0: none); counts every acquisition attempt.
  int failAcquisitionAt = 0;
  int acquisitions = 0;
  int acquired[static_cast<int>(FakeResource::kCount)] = {};
  int released[static_cast<int>(FakeResource::kCount)] = {};

  /// True when everything acquired was released again.
  bool AllReleased() const;
};

/// The fake every platform function of the test program works on; reset it between tests.
FakePlatform& Fake();
void ResetFake();
