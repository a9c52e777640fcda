// The hotfix installer as a child process: started, waited for, and its end reported.
#pragma once

#include <cstdint>

#include "common/fixed_text.h"

inline constexpr uint32_t kInstallerTimeoutMs = 3600000;  // one hour
// The status of a run that fails, and so the launch result of an installer that did not start.
inline constexpr int kRunFailed = -1;
inline constexpr int kLaunchFieldCapacity = 1024;

using LaunchText = FixedText<kLaunchFieldCapacity>;

/// Composes the installer path (launcher directory directly followed by the installer name) and
/// the command line ("<installer path>" <arguments>). Returns 1, or 0 when either would not fit.
int ComposeInstallerCommand(const char* launcherDirectory, const char* installerName,
                            const char* installerArguments, LaunchText* installerPath,
                            LaunchText* commandLine);
/// Starts the installer, waits for it at most one hour, and returns its exit code (259 when it
/// was still running), or -1 when it did not start; a failed start and a non-zero exit code are
/// reported in the run log. Marks the start and, after it, the end of the wait.
int LaunchInstaller(const char* launcherDirectory, const char* launcherName,
                    const char* installerName, const char* installerArguments, const char* patchId);
