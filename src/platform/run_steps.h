// The run's marks of its own steps: the run tells its platform each step it reaches and what the
// step decided. A real platform takes no notice; the dry one keeps them for the preflight's report,
// so that the report never has to guess a step from the records or the reads it left behind.
#pragma once

#include <cstdint>

/// The steps the run marks, in the order it reaches them.
enum class RunStep {
  kSettingsRead,        // decided: the settings loaded; with the location and the patch id
  kArgumentsAssembled,  // decided: they fit; with their text and whole length
  kInstallerStarted,    // decided: the start succeeded; with the installer path and command line
  kWaitEnded,           // with the exit code read
  kCheckDecided,        // decided: installed; with the step a passed check leads to
  kPatchInfoLocated,    // decided: the PatchInfoLocation; with the path
  kPatchInfoRecorded,   // decided: the patch-info file opened
  kInstallerLogMerged,
};

/// The step a passed check leads to (the patch-info record), given the launcher's location and
/// the patch id.
using PassedCheckStep = void (*)(const char* launcherDirectory, const char* launcherName,
                                 const char* patchId);

/// What one step decided. The records a step writes come before its mark.
struct RunStepMark {
  RunStep step;
  int decided = 0;
  const char* directory = "";  // settings read, check decided: the launcher's folder
  const char* name = "";       // settings read, check decided: the launcher's name
  const char* patchId = "";    // settings read, check decided
  const char* path = "";  // installer started: the installer path; patch-info located: its path
  const char* text = "";  // arguments assembled: the arguments; installer started: the command
  int length = 0;         // arguments assembled: their whole length, also past what fits
  uint32_t exitCode = 0;  // wait ended
  PassedCheckStep passedStep = nullptr;  // check decided
};

/// Marks a step the run reached, once it has decided; nothing on a real platform.
void MarkRunStep(const RunStepMark& mark);
