// The install driver: the one run of the launcher from its command tail to its exit status.
#pragma once

#include "common/fixed_text.h"
#include "platform/codepage.h"
#include "settings/settings.h"

inline constexpr char kInstallerArgumentsHead[] = "/norestart /log:\"";
inline constexpr int kInstallerArgumentsCapacity = 100;
inline constexpr char kArgumentsTooLong[] = "Installer arguments are too long.";

// The first fields of the three banner records that open the launch.
inline constexpr char kBannerTop[] =
    "*********************   QOR: New OS Patch  *****************************";
inline constexpr char kBannerInstalling[] = "*******  Installing";
inline constexpr char kBannerBottom[] =
    "************************************************************************";

using InstallerArguments = FixedText<kInstallerArgumentsCapacity>;

/// Returns the command tail of a whole command line: what follows the program name (quoted, or
/// up to the first byte of code 32 or less) and the bytes of codes 1 to 32 after it. Inside the
/// quotes, the byte after a lead byte of `isLeadByte` never closes them.
const char* SkipProgramName(const char* commandLine, LeadByteRule isLeadByte);
/// Composes "/norestart /log:"c:\tmp.log" " followed by the extra switches, a blank when they are
/// not empty, and the command tail, as far as 99 characters hold it. Returns 1 when it fits
/// whole, else 0; sets *length to the whole length either way.
int AssembleInstallerArguments(const char* extraSwitches, const char* commandTail,
                               InstallerArguments* arguments, int* length);
/// Assembles the installer arguments for the loaded settings and the command tail. When they fit,
/// writes the three banner records that open the launch and returns 1; when they would pass 99
/// characters, writes the record that says so and returns 0. Marks the step either way.
int PrepareInstallerArguments(const LauncherLocation& location, const InstallerSettings& settings,
                              const char* commandTail, InstallerArguments* arguments);
/// Evaluates the installation check and marks it; when it passes, appends the patch id to the
/// patch-info file. Returns whether it passed.
int CheckAndRecordInstall(const LauncherLocation& location, const InstallerSettings& settings);
/// Performs the whole run for the command tail and returns the process's exit status.
int RunInstall(const char* commandTail);
