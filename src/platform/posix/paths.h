// How the Linux port places Windows paths: a drive letter names a folder under the prefix.
//
// The prefix is $HOTFIX_LAUNCHER_PREFIX, or /var/lib/hotfix-launcher when it is unset or empty.
// A path that begins with a letter and a colon maps to <prefix>/drive_<letter in lower case>
// followed by the rest of the path (a drive-relative rest counts from the drive's root); in every
// path each backslash becomes a slash. Nothing else changes: no case folding, so a missing drive
// folder behaves as a missing drive.
#pragma once

#include <cstddef>

constexpr size_t kMappedPathCapacity = 4096;

/// Fills `mapped` with the Linux path for `path`; returns 1, or 0 when it would not fit.
int MapPlatformPath(const char* path, char* mapped, size_t capacity);
/// The prefix under which drives and HKLM.reg lie.
const char* PlatformPrefix();
