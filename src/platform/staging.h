// Who can change a staged bundle: the folders from the root down to the bundle's folder and
// everything in it, judged by the system's own owners and permissions, and the bundle's files read
// once, through the open that judged them, for their SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/fixed_text.h"
#include "platform/folders.h"

inline constexpr int kMostStagingFindings = 32;
inline constexpr int kMostStagingUnknowns = 8;
inline constexpr int kMostBundleFiles = 1024;      // regular files in a bundle, or listed ones
inline constexpr int kStagingNameCapacity = 1024;  // a file's name relative to the bundle's folder
inline constexpr int kMostBundleDepth = 32;        // folders below the bundle's folder
inline constexpr int kSha256Bytes = 32;

using StagingPath = FixedText<kHostPathCapacity>;
using StagingNote = FixedText<300>;

/// One thing someone other than a trusted account can do to what would run as administrator.
struct StagingFinding {
  StagingPath path;      // the platform path; empty for a folder outside the prefix's drives
  StagingPath hostPath;  // where this host's file system has it (on Windows the path itself)
  StagingNote who;       // the account, group or "others"; empty when no account is the cause
  StagingNote how;       // what it can do, or what is wrong
};

/// An item the check could not read, which leaves the staging unknown.
struct StagingUnknown {
  StagingPath path;
  StagingPath hostPath;
  StagingNote reason;
  FixedText<kHostPathCapacity + 320> summary;  // "<path>: <reason>", for the report's unknown list
};

/// A regular file of the bundle: its name relative to the bundle's folder ("/" between folders,
/// UTF-8 as the file system has it) and, when it was asked for and could be read, its SHA-256.
struct BundleFile {
  FixedText<kStagingNameCapacity> name;
  int hashed = 0;
  unsigned char sha256[kSha256Bytes] = {};
};

struct StagingReport {
  int files = 0;         // regular files judged, which may be more than `bundleFiles` holds
  int findingCount = 0;  // every finding, which may be more than `findings` holds
  StagingFinding findings[kMostStagingFindings];
  int unknownCount = 0;  // every unknown item, which may be more than `unknowns` holds
  StagingUnknown unknowns[kMostStagingUnknowns];
  int bundleFileCount = 0;  // at most kMostBundleFiles; past it an unknown item says so
  BundleFile bundleFiles[kMostBundleFiles];
};

/// Judges the folders from the root down to the bundle's folder `folder` (a platform path ending
/// in a separator) and everything under it, adding a finding for each thing someone other than a
/// trusted account can change, and an unknown item for each thing it could not read. Lists the
/// bundle's regular files and, with `hash`, reads each once for its SHA-256. Writes nothing.
void CheckStaging(const char* folder, bool hash, StagingReport* report);

/// Adds a finding (`who` nullptr or empty when no account is the cause), counted also when the
/// list is full.
void AddStagingFinding(StagingReport* report, const char* path, const char* hostPath,
                       const char* who, const char* how);
/// Adds an unknown item, counted also when the list is full.
void AddStagingUnknown(StagingReport* report, const char* path, const char* hostPath,
                       const char* reason);

/// Fills `path` and `hostPath` with the platform path and the host path of the file `name` of the
/// bundle in `folder` (`name` relative to it, "/" between folders, UTF-8), as findings give them.
void ShowBundleName(const char* folder, const char* name, StagingPath* path, StagingPath* hostPath);
/// Whether the bundle's file names follow Windows' rules: a backslash separates folders as a
/// slash does, and names compare without regard to ASCII case.
bool StagingNamesFollowWindows();
