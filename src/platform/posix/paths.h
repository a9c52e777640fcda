// How the Linux port places Windows paths: inside the launcher they stay Windows paths, as on
// Windows, and only where one meets the file system is it mapped to a host path under the prefix.
//
// The prefix is $HOTFIX_LAUNCHER_PREFIX, or /var/lib/hotfix-launcher when it is unset or empty.
// - "X:\rest" and the drive-relative "X:rest" lie in <prefix>/drive_<letter in lower case>; a
//   path without a drive ("\x\y", or a relative one) lies on drive C, the system drive, whose root
//   is the port's current folder. "\\server\share\rest" lies in <prefix>/unc/server/share.
// - Backslashes and slashes both separate; "." is dropped and ".." steps back, never above the
//   root of the drive (or of the share), as Windows' path normalisation does.
// - Bytes above 127 are code page 1252 text and become UTF-8. Nothing else changes: no case
//   folding, so a missing drive folder behaves as a missing drive.
// Links on the way are not resolved here: files.h's opens resolve them inside the prefix.
#pragma once

#include <cstddef>

constexpr size_t kMappedPathCapacity = 4096;

/// Fills `mapped` with the host path for the Windows path `path`; returns 1, or 0 when it would
/// not fit.
int MapPlatformPath(const char* path, char* mapped, size_t capacity);
/// Fills `path` with the Windows path ("X:\...") of a host path that lies in a drive folder of the
/// prefix; returns 1, or 0 when it lies elsewhere, holds a backslash or a character that code page
/// 1252 lacks, or would not fit.
int WindowsPathOfHostPath(const char* hostPath, char* path, size_t capacity);
/// Says whether the host path lies in a drive folder of the prefix ("<prefix>/drive_x/..."), where
/// the launcher has a Windows path of its own.
bool IsInDriveFolder(const char* hostPath);
/// Fills `hostPath` with the running program's host path as /proc/self/exe names it (a program
/// deleted since it started is named "<path> (deleted)"); returns false when that cannot be read or
/// would not fit.
bool ReadOwnHostPath(char* hostPath, size_t capacity);
/// Says whether a host path from MapPlatformPath names an entry in the root folder of a drive,
/// which any user may write to on Windows.
bool IsInDriveRoot(const char* mapped);
/// The prefix under which drives and HKLM.reg lie.
const char* PlatformPrefix();
