// The server patch record: the patch id appended to the server product's patch-info file, which
// two of the product's registry values locate.
#pragma once

#include "common/fixed_text.h"

inline constexpr char kServerKey[] = "SOFTWARE\\Qor\\SERVER";
inline constexpr char kProgramPathValue[] = "ProgramPath";
inline constexpr char kMarkerKey[] = "SOFTWARE\\Qor\\SERVER\\DICT_FILES\\$scsi0$sysDict";
inline constexpr char kMarkerValue[] = "PATCHFILENAME";
inline constexpr char kPatchInfoDevicePath[] = "/scsi0/persist/patchInfo";
inline constexpr char kServerRoot[] = "e:/qor/server";

using PatchPath = FixedText<260>;

// Where the patch id goes, as LocatePatchInfoFile finds it.
enum class PatchInfoLocation {
  kUnused,   // no ProgramPath: nothing is written anywhere
  kLocated,  // the path is whole
  kTooLong,  // the path was cut: the file counts as one that cannot be opened
};

/// Fills `folder` with ProgramPath followed by "\server\"; returns 1, or 0 when ProgramPath cannot
/// be read. A folder too long for its field is left full (259 characters).
int GetServerProgramPath(PatchPath* folder);
/// Fills `marker` with PATCHFILENAME; leaves it as it was when that cannot be read.
void GetPatchFileMarker(PatchPath* marker);
/// Puts the device path onto the server root: "e:/qor/server" followed by the device path from
/// the slash that closes its device name on.
void TranslateDevicePath(const char* devicePath, PatchPath* path);
/// Fills `path` with the patch-info file's path: the translated device path when the marker is
/// there, else the server program folder followed by "patchinfo".
PatchInfoLocation LocatePatchInfoFile(PatchPath* path);
/// Writes the two records of a patch-info file that cannot be opened.
void ReportPatchInfoNotOpened(const char* launcherDirectory, const char* launcherName,
                              const char* patchId, const char* path);
/// Appends the patch id to the patch-info file; records a file that cannot be opened. Marks where
/// the file was located and, when one is used, whether it opened.
void RecordPatchInfo(const char* launcherDirectory, const char* launcherName, const char* patchId);
