// Locating the server product's patch-info file and appending the patch id to it.
#include "patchinfo/patchinfo.h"

#include <cstring>

#include "check/check.h"
#include "platform/files.h"
#include "runlog/runlog.h"

namespace {

// Copies a registry value's text into `field`; returns 1 when it was read.
int ReadServerValue(const char* keyPath, const char* valueName, PatchPath* field) {
  RegistryText value;
  if (ReadRegistryText(keyPath, valueName, &value) != RegistryReadResult::kRead) return 0;
  CopyText(field, reinterpret_cast<const char*>(value.data));
  ReleaseRegistryText(&value);
  return 1;
}

}  // namespace

int GetServerProgramPath(PatchPath* folder) {
  if (!ReadServerValue(kServerKey, kProgramPathValue, folder)) return 0;
  AppendText(folder, "\\server\\");
  return 1;
}

void GetPatchFileMarker(PatchPath* marker) { ReadServerValue(kMarkerKey, kMarkerValue, marker); }

void TranslateDevicePath(const char* devicePath, PatchPath* path) {
  CopyText(path, kServerRoot);
  const char* device = strstr(devicePath, "/scsi0/");
  const char* rest = device != nullptr ? strchr(device + 2, '/') : nullptr;
  if (rest != nullptr) AppendText(path, rest);
}

void RecordPatchInfo(const char* launcherDirectory, const char* launcherName, const char* patchId) {
  PatchPath folder;
  if (!GetServerProgramPath(&folder)) return;
  PatchPath marker;
  GetPatchFileMarker(&marker);

  PatchPath path;
  int whole = 1;
  if (marker.text[0] != '\0') {
    TranslateDevicePath(kPatchInfoDevicePath, &path);
  } else {
    // A folder that was cut already fills the field, so a cut anywhere shows here.
    whole = CopyText(&path, folder.text) && AppendText(&path, "patchinfo");
  }
  TextFile* file = whole ? OpenTextFile(path.text, TextFileMode::kAppend) : nullptr;
  if (file == nullptr) {
    WriteLogRecord(patchId, launcherDirectory, launcherName, "Failed to open PatchInfo file");
    WriteLogRecord(patchId, launcherDirectory, launcherName, path.text);
    return;
  }
  WriteText(file, patchId);
  WriteText(file, "\n");
  CloseTextFile(file);
}
