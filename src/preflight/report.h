// The preflight's report: plain lines for people, or one JSON object for machines.
#pragma once

#include "preflight/preflight.h"
#include "preflight/report_output.h"

/// Prints one finding a line, the status and what to do next. Texts are printed as the launcher
/// holds them, in the system's ANSI code page.
void PrintTextReport(const PreflightReport& report, int status, const ReportOutput& out);
/// Prints every finding as one JSON object in UTF-8, with the keys docs/preflight-json.md lists.
void PrintJsonReport(const PreflightReport& report, int status, const ReportOutput& out);
/// Prints a host's state (--state) as lines: the settings, whether the hotfix is installed and
/// recorded, whether a reboot is pending, the status and what it means.
void PrintStateTextReport(const PreflightReport& report, int status, const ReportOutput& out);
/// Prints a host's state as one JSON object, with the bundle report's parts for what it shares.
void PrintStateJsonReport(const PreflightReport& report, int status, const ReportOutput& out);
