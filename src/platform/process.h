// Child processes and the thread's last-error code with its system message.
#pragma once

#include <cstdint>

#include "common/fixed_text.h"

struct ChildProcess;

constexpr uint32_t kStillActive = 259;  // the exit code of a process that has not ended

/// Starts the program file at `applicationPath` (a platform path: never searched for, no
/// extension added) with the whole `commandLine`, the launcher's own environment and current
/// directory. Returns nullptr when it could not be started.
ChildProcess* StartProcess(const char* applicationPath, const char* commandLine);
/// Blocks until the process ends or `timeoutMs` milliseconds have passed, whichever comes first.
void WaitForProcess(ChildProcess* child, uint32_t timeoutMs);
/// Sets *code to the exit code (kStillActive while the process runs) and returns 1, or returns 0
/// when it cannot be read.
int ReadExitCode(ChildProcess* child, uint32_t* code);
/// Releases what StartProcess acquired; a process still running is left running.
void CloseProcess(ChildProcess* child);

enum class InstallationActivity { kNone, kRunning, kNotChecked };

/// Whether an installation of the Windows Installer runs now: its global "_MSIExecute" mutex
/// exists. The Linux port has no such installer and reports kNotChecked.
InstallationActivity ReadInstallationActivity();

/// The calling thread's last-error code at this moment.
uint32_t ReadLastError();
/// Sets *text to the system's message for `code`, which ends in CR LF, in a buffer released with
/// ReleaseSystemMessage, and returns its length; returns 0 and sets nothing when there is none.
int FormatSystemMessage(uint32_t code, char** text);
void ReleaseSystemMessage(char* text);

using ErrorText = FixedText<300>;

/// Fills `reason` with the system's text for a last-error code (errno on Linux) followed by the
/// code, as "<text> (error <code>)", or the code alone when the system has no text for it.
void DescribeError(uint32_t code, ErrorText* reason);
