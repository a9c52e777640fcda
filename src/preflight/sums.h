// A SHA256SUMS file, as sha256sum writes it, set against the bundle's files: every listed file must
// be there with that SHA-256, and no file may be there that the list does not name.
#pragma once

#include <cstddef>

#include "platform/staging.h"

struct SumsEntry {
  FixedText<kStagingNameCapacity> name;  // relative to the bundle's folder, "/" between folders
  unsigned char sha256[kSha256Bytes] = {};
};

struct SumsList {
  int count = 0;
  SumsEntry entries[kMostBundleFiles];
};

/// Parses the lines "<64 hex digits> <blank or *><name>" of `size` bytes (LF or CR LF line ends,
/// blank lines skipped); a line that starts with "\" has its name escaped, "\\" for a backslash
/// and "\n" and "\r" for those line ends. Where names follow Windows' rules a backslash in a name
/// also separates folders. A leading "./" is dropped. Returns true, or false with `problem`
/// naming the line and what is wrong: a malformed line, a name that leaves the bundle's folder, a
/// name listed twice, or more names than kMostBundleFiles.
bool ParseSums(const unsigned char* bytes, size_t size, SumsList* list, StagingNote* problem);

/// Adds a staging finding for every listed file missing from the bundle in `folder`, every file
/// whose SHA-256 differs from the list's, and every file of the bundle the list does not name.
/// Names compare byte for byte, or without regard to ASCII case where the platform says so.
void CompareSums(const SumsList& list, const char* folder, StagingReport* report);
