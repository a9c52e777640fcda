// The staging rule over a Windows security descriptor: the accounts other than the trusted ones
// that own an item or hold rights on it that let them change what would run as administrator.
// Platform code of win32 alone, apart from the walk, so that it is tested on descriptors made
// from SDDL.
#pragma once

#include <windows.h>

#include <cstddef>

/// What the item is, which decides the rights that count on it.
enum class StagingObject {
  kDriveRoot,  // where users may create folders: only what changes or removes others' counts
  kFolder,     // below the drive's root: adding entries counts too
  kFile,
};

inline constexpr int kMostSecurityFindings = 8;

/// One account's share: it owns the item (rights 0), or holds these counted rights on it.
struct SecurityFinding {
  PSID who;  // inside the descriptor, or Everyone's for a NULL DACL
  DWORD rights;
};

/// Judges the owner and the DACL of `descriptor` for `object`. Trusted are SYSTEM, Administrators,
/// TrustedInstaller and `self`; any other owner is a finding (an owner can always change the
/// access), and so is each other account's allow entry with a counted right: DELETE, WRITE_DAC,
/// WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE, and FILE_DELETE_CHILD on a folder, FILE_ADD_FILE and
/// FILE_ADD_SUBDIRECTORY on a folder below the drive's root, FILE_WRITE_DATA and FILE_APPEND_DATA
/// on a file. A NULL DACL gives Everyone full control. Returns the findings, at most `capacity`.
int JudgeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, StagingObject object, PSID self,
                            SecurityFinding* findings, int capacity);

/// Writes what a finding's account may do, as "owns it ..." or "may <right>, <right>".
void DescribeRights(const SecurityFinding& finding, StagingObject object, char* text,
                    size_t capacity);
