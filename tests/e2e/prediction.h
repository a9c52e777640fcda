// The preflight's prediction held against the launcher's real run that follows it on the same leg:
// its status, the records it says the run writes, and what it says the run's opens of the run log
// and of the patch-info file do.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "harness.h"

/// A file as it was: whether it was there, and its bytes.
struct FileState {
  bool present = false;
  std::string bytes;
  bool operator==(const FileState&) const = default;
};

/// The run log and the patch-info file the preflight's report names, as they are on the leg; a
/// patch-info file the report gives no host path for is not there.
struct PredictedFiles {
  FileState runLog;
  FileState patchInfo;
};

PredictedFiles LookAtPredictedFiles(const Leg& leg, const nlohmann::json& report);

/// Checks the preflight's JSON report against the launcher's run that followed it, given the files
/// as they were before that run: every record it predicts is in the run log, in order; 1 means the
/// run stops before the launch or cannot start the installer, 2 that it exits with 0, 0 and 3 that
/// the installer starts as predicted; 4 (unsafe) and 77 (cannot tell) tell nothing of the run.
/// The run log's access: "opens" appends to it, "would be created" creates it, anything else
/// leaves it as it was. The patch-info file's, when the launcher's check passed: "opens" appends
/// to it, "would be created" creates it, "cannot be opened" writes "Failed to open PatchInfo file"
/// and leaves it as it was, "not used" does neither; when the check did not pass, neither.
void ExpectPredicted(const nlohmann::json& report, int launcherStatus, const Leg& leg,
                     const PredictedFiles& before);
