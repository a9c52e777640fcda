// Gathering the preflight's findings through the launcher's own steps, each of which is given the
// place of a launcher in the bundle's folder, and deciding the exit status from them.
#include "preflight/preflight.h"

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

// Where the patch id would go, and whether that file would open for appending; the records are
// those the launcher writes when it does not.
void InspectPatchInfo(PreflightReport* report) {
  report->patchInfo = LocatePatchInfoFile(&report->patchInfoPath);
  if (report->patchInfo == PatchInfoLocation::kUnused) return;
  report->patchInfoAccess = report->patchInfo == PatchInfoLocation::kLocated
                                ? ProbeTextFile(report->patchInfoPath.text, TextFileMode::kAppend)
                                : FileAccess::kCannotOpen;
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
  if (report->settingsLoaded) InspectInstall(request, report);
  InspectPatchInfo(report);

  report->runLogAccess = ProbeTextFile(kRunLogPath, TextFileMode::kAppend);
  if (report->runLogAccess == FileAccess::kCannotOpen) {
    report->runLogAccess = ProbeTextFile(kRunLogPath, TextFileMode::kWriteAtEnd);
  }
  report->installerLogAccess = ProbeTextFile(kInstallerLogPath, TextFileMode::kCreateEmpty);

  report->cbsRebootPending = KeyExists(kCbsRebootKey);
  report->updateRebootRequired = KeyExists(kUpdateRebootKey);
  report->renamesPending = ValueExists(kSessionManagerKey, kPendingRenamesValue);
  report->installation = ReadInstallationActivity();
  report->freeSpaceKnown = ReadFreeSpace(request.folder, &report->freeSpace);
}

int RebootPending(const PreflightReport& report) {
  return report.cbsRebootPending || report.updateRebootRequired || report.renamesPending;
}

int DecidePreflightStatus(const PreflightReport& report) {
  if (!report.settingsLoaded || !report.argumentsFit) return kPreflightCannotRun;
  // The check decides before the launch does: an installed hotfix ends the run with 0 even when
  // its installer is gone.
  if (report.installed) return kPreflightInstalled;
  if (!report.commandFits || report.installerFile != ProgramFile::kProgram) {
    return kPreflightCannotRun;
  }
  if (RebootPending(report)) return kPreflightRebootPending;
  return kPreflightReady;
}
