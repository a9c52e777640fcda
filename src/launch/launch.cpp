// Starting the hotfix installer and waiting for it, with the records of a failed start and of a
// non-zero exit code.
#include "launch/launch.h"

#include <cstdio>

#include "platform/process.h"
#include "platform/run_steps.h"
#include "runlog/runlog.h"

int ComposeInstallerCommand(const char* launcherDirectory, const char* installerName,
                            const char* installerArguments, LaunchText* installerPath,
                            LaunchText* commandLine) {
  int whole = CopyText(installerPath, launcherDirectory) &&
              AppendText(installerPath, installerName) && CopyText(commandLine, "\"") &&
              AppendText(commandLine, installerPath->text) && AppendText(commandLine, "\" ") &&
              AppendText(commandLine, installerArguments);
  return whole ? 1 : 0;
}

namespace {

// The records of an installer that ended with a code other than 0.
void ReportExitCode(const char* launcherDirectory, const char* launcherName, const char* patchId,
                    const LaunchText& installerPath, const LaunchText& commandLine,
                    uint32_t exitCode) {
  char exitText[100];
  snprintf(exitText, sizeof exitText, "Exit code = %ld",
           static_cast<long>(static_cast<int32_t>(exitCode)));
  WriteLogRecord(patchId, launcherDirectory, launcherName, installerPath.text);
  WriteLogRecord(patchId, launcherDirectory, launcherName, commandLine.text);
  WriteLogRecord(patchId, launcherDirectory, launcherName, exitText);

  // The message is that of the thread's last error as the calls above left it, not of the
  // installer's exit code.
  char* message = nullptr;
  if (FormatSystemMessage(ReadLastError(), &message) != 0) {
    WriteLogRecord(patchId, launcherDirectory, launcherName, message);
    ReleaseSystemMessage(message);
  }
}

}  // namespace

int LaunchInstaller(const char* launcherDirectory, const char* launcherName,
                    const char* installerName, const char* installerArguments,
                    const char* patchId) {
  LaunchText installerPath;
  LaunchText commandLine;
  // With the settings' capacities the command line cannot pass 620 characters, so a cut here
  // would only come from a caller outside the run; it is refused rather than started cut.
  ChildProcess* installer = nullptr;
  if (ComposeInstallerCommand(launcherDirectory, installerName, installerArguments, &installerPath,
                              &commandLine)) {
    installer = StartProcess(installerPath.text, commandLine.text);
  }
  if (installer == nullptr) {
    WriteLogRecord(patchId, launcherDirectory, launcherName, "Failed to create process");
    WriteLogRecord(patchId, launcherDirectory, launcherName, installerPath.text);
    WriteLogRecord(patchId, launcherDirectory, launcherName, commandLine.text);
  }
  MarkRunStep({.step = RunStep::kInstallerStarted,
               .decided = installer != nullptr,
               .path = installerPath.text,
               .text = commandLine.text});
  if (installer == nullptr) return kRunFailed;

  WaitForProcess(installer, kInstallerTimeoutMs);
  // A failed query leaves the preset -1, which is reported below as any non-zero code is.
  uint32_t exitCode = static_cast<uint32_t>(kRunFailed);
  ReadExitCode(installer, &exitCode);
  CloseProcess(installer);
  if (exitCode != 0) {
    ReportExitCode(launcherDirectory, launcherName, patchId, installerPath, commandLine, exitCode);
  }
  MarkRunStep({.step = RunStep::kWaitEnded, .exitCode = exitCode});
  return static_cast<int32_t>(exitCode);
}
