// The fake platform: in place of the real one, every platform service the core calls.
#include "platform/fake/fake_platform.h"

#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/module_path.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/run_steps.h"

namespace {

FakePlatform* fake = new FakePlatform;

bool Acquire(FakeResource kind) {
  if (++fake->acquisitions == fake->failAcquisitionAt) return false;
  ++fake->acquired[static_cast<int>(kind)];
  return true;
}

void Release(FakeResource kind) { ++fake->released[static_cast<int>(kind)]; }

}  // namespace

bool FakePlatform::AllReleased() const {
  for (int i = 0; i < static_cast<int>(FakeResource::kCount); ++i) {
    if (acquired[i] != released[i]) return false;
  }
  return true;
}

FakePlatform& Fake() { return *fake; }

void ResetFake() { *fake = FakePlatform{}; }

// Heap buffers.
void* AllocateBuffer(size_t size) {
  if (!Acquire(FakeResource::kBuffer)) return nullptr;
  return calloc(1, size);
}

void ReleaseBuffer(void* buffer) {
  if (buffer != nullptr) Release(FakeResource::kBuffer);
  free(buffer);
}

// Files: a record of the path and a read position.
struct TextFile {
  std::string path;
  size_t position;
};

TextFile* OpenTextFile(const char* path, TextFileMode mode) {
  bool exists = fake->files.count(path) != 0;
  if (mode == TextFileMode::kRead && !exists) return nullptr;
  if (!Acquire(FakeResource::kFile)) return nullptr;
  if (mode == TextFileMode::kCreateEmpty || !exists) fake->files[path].clear();
  return new TextFile{path, 0};
}

int ReadTextLine(TextFile* file, char* buffer, int capacity) {
  const std::string& text = fake->files[file->path];
  size_t count = 0;
  while (file->position < text.size() && count + 1 < static_cast<size_t>(capacity)) {
    char c = text[file->position++];
    buffer[count++] = c;
    if (c == '\n') break;
  }
  buffer[count] = '\0';
  return count != 0 ? 1 : 0;
}

void WriteText(TextFile* file, const char* text) { fake->files[file->path] += text; }

void CloseTextFile(TextFile* file) {
  Release(FakeResource::kFile);
  delete file;
}

// Time, code page, module path, settings.
void ReadLocalTime(LocalTime* time) { *time = LocalTime{2005, 12, 6, 9, 5, 7}; }

bool IsAnsiLeadByte(unsigned char) { return false; }

int DecodeAnsiCharacter(const char* text, uint32_t* codePoint) {
  *codePoint = static_cast<unsigned char>(*text);
  return 1;
}

void ReadModulePath(char* buffer, int capacity) {
  const std::string& path = fake->modulePath;
  if (path.size() >= static_cast<size_t>(capacity)) {
    buffer[0] = '\0';
    return;
  }
  memcpy(buffer, path.c_str(), path.size() + 1);
}

int ReadProfileString(const char*, const char* key, char* buffer, int capacity, const char*) {
  buffer[0] = '\0';
  auto found = fake->settings.find(key);
  if (!fake->settingsFilePresent || found == fake->settings.end()) return 0;
  strncpy(buffer, found->second.c_str(), static_cast<size_t>(capacity) - 1);
  buffer[capacity - 1] = '\0';
  return static_cast<int>(strlen(buffer));
}

// Registry.
struct RegistryKey {
  std::map<std::string, FakeValue>* values;
};

RegistryKey* OpenMachineKey(const char* path, RegistryView) {
  auto found = fake->registry.find(path);
  if (found == fake->registry.end() || !Acquire(FakeResource::kKey)) return nullptr;
  return new RegistryKey{&found->second};
}

int QueryRegistryValue(RegistryKey* key, const char* name, uint32_t* type, unsigned char* data,
                       uint32_t* size) {
  auto found = key->values->find(name);
  if (found == key->values->end()) return 0;
  const FakeValue& value = found->second;
  uint32_t available = *size;
  *type = value.type;
  *size = static_cast<uint32_t>(value.data.size());
  if (data == nullptr) return 1;
  if (fake->dataReadFails || available < *size) return 0;
  memcpy(data, value.data.data(), value.data.size());
  return 1;
}

void CloseRegistryKey(RegistryKey* key) {
  Release(FakeResource::kKey);
  delete key;
}

// The installer.
struct ChildProcess {
  int unused;
};

ChildProcess* StartProcess(const char* applicationPath, const char* commandLine) {
  fake->started = std::string(applicationPath) + "|" + commandLine;
  if (fake->startFails || !Acquire(FakeResource::kProcess)) return nullptr;
  return new ChildProcess{0};
}

void WaitForProcess(ChildProcess*, uint32_t) {}

int ReadExitCode(ChildProcess*, uint32_t* code) {
  if (fake->exitCodeFails) return 0;
  *code = fake->exitCode;
  return 1;
}

void CloseProcess(ChildProcess* child) {
  Release(FakeResource::kProcess);
  delete child;
}

uint32_t ReadLastError() { return fake->lastError; }

int FormatSystemMessage(uint32_t code, char** text) {
  if (code == 0 || !Acquire(FakeResource::kMessage)) return 0;
  static const char kMessage[] = "The system cannot find the file specified.\r\n";
  *text = strdup(kMessage);
  return static_cast<int>(strlen(kMessage));
}

void ReleaseSystemMessage(char* text) {
  Release(FakeResource::kMessage);
  free(text);
}

// The run's marks: each step with what it decided, and the texts it carries.
void MarkRunStep(const RunStepMark& mark) {
  static const char* const kNames[] = {"settings", "arguments", "started",  "waited",
                                       "checked",  "located",   "recorded", "merged"};
  std::string text = kNames[static_cast<int>(mark.step)];
  switch (mark.step) {
    case RunStep::kSettingsRead:
    case RunStep::kCheckDecided:
      text += " " + std::to_string(mark.decided) + " " + mark.directory + mark.name + " " +
              mark.patchId;
      break;
    case RunStep::kArgumentsAssembled:
      text += " " + std::to_string(mark.decided) + " " + std::to_string(mark.length);
      break;
    case RunStep::kInstallerStarted:
    case RunStep::kPatchInfoLocated:
      text += " " + std::to_string(mark.decided) + " " + mark.path;
      break;
    case RunStep::kWaitEnded:
      text += " " + std::to_string(mark.exitCode);
      break;
    case RunStep::kPatchInfoRecorded:
      text += " " + std::to_string(mark.decided);
      break;
    case RunStep::kInstallerLogMerged:
      break;
  }
  fake->marks.push_back(text);
}
