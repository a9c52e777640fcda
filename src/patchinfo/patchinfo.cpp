// Locating the server product's patch-info file and appending the patch id to it.
#include "patchinfo/patchinfo.h"

#include <cstring>

#include "check/check.h"
#include "platform/files.h"
#include "platform/run_steps.h"
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

PatchInfoLocation LocatePatchInfoFile(PatchPath* path) {
  PatchPath folder;
  if (!GetServerProgramPath(&folder)) return PatchInfoLocation::kUnused;
  PatchPath marker;
  GetPatchFileMarker(&marker);
  if (marker.text[0] != '\0') {
    TranslateDevicePath(kPatchInfoDevicePath, path);
    return PatchInfoLocation::kLocated;
  }
  // A folder that was cut already fills the field, so a cut anywhere shows here.
  int whole = CopyText(path, folder.text) && AppendText(path, "patchinfo");
  return whole ? PatchInfoLocation::kLocated : PatchInfoLocation::kTooLong;
}

void ReportPatchInfoNotOpened(const char* launcherDirectory, const char* launcherName,
                              const char* patchId, const char* path) {
  WriteLogRecord(patchId, launcherDirectory, launcherName, "Failed to open PatchInfo file");
  WriteLogRecord(patchId, launcherDirectory, launcherName, path);
}

void RecordPatchInfo(const char* launcherDirectory, const char* launcherName, const char* patchId) {
  PatchPath path;
  PatchInfoLocation located = LocatePatchInfoFile(&path);
  MarkRunStep({.step = RunStep::kPatchInfoLocated,
               .decided = static_cast<int>(located),
               .path = path.text});
  if (located == PatchInfoLocation::kUnused) return;
  TextFile* file = located == PatchInfoLocation::kLocated
                       ? OpenTextFile(path.text, TextFileMode::kAppend)
                       : nullptr;
  if (file == nullptr) {
    ReportPatchInfoNotOpened(launcherDirectory, launcherName, patchId, path.text);
  } else {
    WriteText(file, patchId);
    WriteText(file, "\n");
    CloseTextFile(file);
  }
  MarkRunStep({.step = RunStep::kPatchInfoRecorded, .decided = file != nullptr});
}
