// Gathering the preflight's findings through the launcher's own steps, each of which is given the
// place of a launcher in the bundle's folder, and deciding the exit status from them.
#include "preflight/preflight.h"

#include <cstring>

#include "check/check.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "runlog/runlog.h"

const char* const kSettingKeys[kSettingCount] = {"AppName",    "DaziveID",    "MicrosoftRegKey",
                                                 "RegKeyName", "RegKeyValue", "RunParams"};

namespace {

int KeyExists(const char* path) {
  RegistryKey* key = OpenMachineKey(path, RegistryView::kSystem);
  CloseRegistryKey(key);
  return key != nullptr ? 1 : 0;
}

// A value that is there with data of any size but 0.
int ValueExists(const char* path, const char* name) {
  RegistryKey* key = OpenMachineKey(path, RegistryView::kSystem);
  if (key == nullptr) return 0;
  uint32_t type = 0;
  uint32_t size = 0;
  int present = QueryRegistryValue(key, name, &type, nullptr, &size) && size > 0;
  CloseRegistryKey(key);
  return present;
}

// The launcher's steps once its settings are loaded: the arguments, the installer it would start
// and the installation check.
void InspectInstall(const PreflightRequest& request, PreflightReport* report) {
  const InstallerSettings& settings = report->settings;
  const char* directory = report->location.directory.text;
  const char* name = report->location.name.text;
  report->argumentsFit = PrepareInstallerArguments(report->location, settings, request.commandTail,
                                                   &report->arguments);
  TakeRecords(&report->argumentRecords);
  report->commandFits =
      ComposeInstallerCommand(directory, settings.installerName.text, report->arguments.text,
                              &report->installerPath, &report->commandLine);
  report->installerFile = InspectProgramFile(report->installerPath.text);
  report->installed =
      CheckInstalled(directory, name, settings.checkKey.text, settings.checkValueName.text,
                     settings.expectedValue.text, settings.patchId.text);
  TakeRecords(&report->checkRecords);
}

// A path the report gives as empty has no host path either.
void LocateGivenPath(const char* path, HostPath* hostPath) {
  if (path[0] != '\0') LocateHostPath(path, hostPath->text, kHostPathCapacity);
}

// Whether the file holds a line equal to the patch id, read in text mode as the launcher reads
// its files, so that the CR LF it writes after each id ends the line.
PatchIdRecord FindPatchId(const char* path, const char* patchId) {
  TextFile* file = OpenTextFile(path, TextFileMode::kRead);
  if (file == nullptr) return PatchIdRecord::kNotRead;
  size_t idLength = strlen(patchId);
  // Room for the longest id and its line feed: a longer line comes in pieces, none of which can
  // be a whole line equal to the id.
  char piece[kPathCapacity + 2];
  bool lineStart = true;
  PatchIdRecord found = PatchIdRecord::kNotHeld;
  while (found == PatchIdRecord::kNotHeld && ReadTextLine(file, piece, sizeof piece)) {
    size_t length = strlen(piece);
    bool lineEnds = length > 0 && piece[length - 1] == '\n';
    if (lineStart && length - (lineEnds ? 1 : 0) == idLength &&
        memcmp(piece, patchId, idLength) == 0) {
      found = PatchIdRecord::kHeld;
    }
    lineStart = lineEnds;
  }
  CloseTextFile(file);
  return found;
}

// Where the patch id would go, whether that file would open for appending and whether it holds
// the id already; the records are those the launcher writes when it does not open.
void InspectPatchInfo(PreflightReport* report) {
  report->patchInfo = LocatePatchInfoFile(&report->patchInfoPath);
  if (report->patchInfo == PatchInfoLocation::kUnused) return;
  LocateGivenPath(report->patchInfoPath.text, &report->patchInfoHostPath);
  report->patchInfoAccess = report->patchInfo == PatchInfoLocation::kLocated
                                ? ProbeTextFile(report->patchInfoPath.text, TextFileMode::kAppend)
                                : FileAccess::kCannotOpen;
  if (report->patchInfo == PatchInfoLocation::kLocated && report->settingsLoaded) {
    report->patchIdRecord = FindPatchId(report->patchInfoPath.text, report->settings.patchId.text);
  }
  if (report->patchInfoAccess == FileAccess::kCannotOpen && report->settingsLoaded) {
    ReportPatchInfoNotOpened(report->location.directory.text, report->location.name.text,
                             report->settings.patchId.text, report->patchInfoPath.text);
  }
  TakeRecords(&report->patchInfoRecords);
}

}  // namespace

void InspectBundle(const PreflightRequest& request, PreflightReport* report) {
  // The launcher's location is what it would find for itself: its folder and its name.
  FixedText<kPathCapacity> launcherPath;
  report->located = CopyText(&launcherPath, request.folder) &&
                    AppendText(&launcherPath, request.launcherFile) &&
                    SplitModulePath(launcherPath.text, IsAnsiLeadByte, &report->location);
  if (report->located && CopyText(&report->settingsPath, report->location.directory.text) &&
      AppendText(&report->settingsPath, kSettingsFileName)) {
    for (int i = 0; i < kSettingCount; ++i) {
      ReadProfileString(kSettingsSection, kSettingKeys[i], report->settingValues[i].text,
                        kPathCapacity, report->settingsPath.text);
    }
  } else {
    CopyText(&report->settingsPath, "");
  }
  report->settingsLoaded =
      ReadInstallerSettings(report->located, report->location, &report->settings);
  TakeRecords(&report->settingsRecords);
  LocateGivenPath(report->location.directory.text, &report->launcherHostPath);
  LocateGivenPath(report->settingsPath.text, &report->settingsHostPath);
  if (report->settingsLoaded) {
    InspectInstall(request, report);
    LocateGivenPath(report->installerPath.text, &report->installerHostPath);
  }
  InspectPatchInfo(report);

  report->runLogAccess = ProbeTextFile(kRunLogPath, TextFileMode::kAppend);
  if (report->runLogAccess == FileAccess::kCannotOpen) {
    report->runLogAccess = ProbeTextFile(kRunLogPath, TextFileMode::kWriteAtEnd);
  }
  report->installerLogAccess = ProbeTextFile(kInstallerLogPath, TextFileMode::kCreateEmpty);
  LocateGivenPath(kRunLogPath, &report->runLogHostPath);
  LocateGivenPath(kInstallerLogPath, &report->installerLogHostPath);

  report->cbsRebootPending = KeyExists(kCbsRebootKey);
  report->updateRebootRequired = KeyExists(kUpdateRebootKey);
  report->renamesPending = ValueExists(kSessionManagerKey, kPendingRenamesValue);
  report->installation = ReadInstallationActivity();
  report->freeSpaceKnown = ReadFreeSpace(request.folder, &report->freeSpace);
}

int PatchIdRecorded(const PreflightReport& report) {
  return report.patchInfo == PatchInfoLocation::kUnused ||
         report.patchIdRecord == PatchIdRecord::kHeld;
}

int RebootPending(const PreflightReport& report) {
  return report.cbsRebootPending || report.updateRebootRequired || report.renamesPending;
}

int DecidePreflightStatus(const PreflightReport& report) {
  if (!report.settingsLoaded || !report.argumentsFit) return kPreflightCannotRun;
  // The check decides before the launch does: an installed hotfix ends the run with 0 even when
  // its installer is gone, and the run appends the id, which is worth it only when it is missing.
  if (report.installed) return PatchIdRecorded(report) ? kPreflightInstalled : kPreflightReady;
  if (!report.commandFits || report.installerFile != ProgramFile::kProgram) {
    return kPreflightCannotRun;
  }
  if (RebootPending(report)) return kPreflightRebootPending;
  return kPreflightReady;
}
