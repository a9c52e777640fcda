// The staging rule over Windows security descriptors. Group membership is not evaluated: an entry
// for Users counts whoever the users are, and a deny entry takes rights off only the account it
// names.
#include "platform/win32/staging_rule.h"

#include <cstring>
#include <initializer_list>

#include "common/fixed_text.h"

namespace {

// A well-known SID of the NT authority (or of another) built in place.
struct KnownSid {
  union {
    SID sid;
    unsigned char bytes[SECURITY_MAX_SID_SIZE];
  };
};

void BuildSid(KnownSid* known, SID_IDENTIFIER_AUTHORITY authority, int count,
              const DWORD* subAuthorities) {
  InitializeSid(&known->sid, &authority, static_cast<BYTE>(count));
  for (int i = 0; i < count; ++i) *GetSidSubAuthority(&known->sid, i) = subAuthorities[i];
}

struct KnownSids {
  KnownSid system, administrators, trustedInstaller, creatorOwner, creatorGroup, everyone;
  KnownSids() {
    static constexpr DWORD kSystem[] = {SECURITY_LOCAL_SYSTEM_RID};
    static constexpr DWORD kAdministrators[] = {SECURITY_BUILTIN_DOMAIN_RID,
                                                DOMAIN_ALIAS_RID_ADMINS};
    static constexpr DWORD kTrustedInstaller[] = {80,         956008885,  3418522649,
                                                  1831038044, 1853292631, 2271478464};
    static constexpr DWORD kCreator[] = {SECURITY_CREATOR_OWNER_RID};
    static constexpr DWORD kCreatorGroup[] = {SECURITY_CREATOR_GROUP_RID};
    static constexpr DWORD kWorld[] = {SECURITY_WORLD_RID};
    BuildSid(&system, SECURITY_NT_AUTHORITY, 1, kSystem);
    BuildSid(&administrators, SECURITY_NT_AUTHORITY, 2, kAdministrators);
    BuildSid(&trustedInstaller, SECURITY_NT_AUTHORITY, 6, kTrustedInstaller);
    BuildSid(&creatorOwner, SECURITY_CREATOR_SID_AUTHORITY, 1, kCreator);
    BuildSid(&creatorGroup, SECURITY_CREATOR_SID_AUTHORITY, 1, kCreatorGroup);
    BuildSid(&everyone, SECURITY_WORLD_SID_AUTHORITY, 1, kWorld);
  }
};

const KnownSids& Known() {
  static const KnownSids known;
  return known;
}

bool Trusted(PSID sid, PSID self) {
  const KnownSids& known = Known();
  for (const KnownSid* trusted : {&known.system, &known.administrators, &known.trustedInstaller}) {
    if (EqualSid(sid, const_cast<SID*>(&trusted->sid))) return true;
  }
  return self != nullptr && EqualSid(sid, self);
}

// CREATOR OWNER and CREATOR GROUP entries are templates for what is created inside: they give the
// item itself nothing.
bool Template(PSID sid) {
  const KnownSids& known = Known();
  return EqualSid(sid, const_cast<SID*>(&known.creatorOwner.sid)) ||
         EqualSid(sid, const_cast<SID*>(&known.creatorGroup.sid));
}

DWORD CountedRights(StagingObject object) {
  DWORD counted = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;
  switch (object) {
    case StagingObject::kDriveRoot:
      return counted | FILE_DELETE_CHILD;
    case StagingObject::kFolder:
      return counted | FILE_DELETE_CHILD | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
    case StagingObject::kFile:
      break;
  }
  return counted | FILE_WRITE_DATA | FILE_APPEND_DATA;
}

void AddRights(PSID who, DWORD rights, SecurityFinding* findings, int capacity, int* count) {
  for (int i = 0; i < *count; ++i) {
    if (findings[i].rights != 0 && EqualSid(findings[i].who, who)) {
      findings[i].rights |= rights;
      return;
    }
  }
  if (*count < capacity) findings[(*count)++] = {who, rights};
}

// The rights an entry of the DACL applies to the item itself, and its SID; 0 for an entry that
// is inherit-only or of a kind that allows nothing here.
struct Entry {
  bool allows;
  bool denies;
  PSID sid;
  DWORD mask;
};

Entry ReadEntry(PACL dacl, DWORD index) {
  void* raw = nullptr;
  if (!GetAce(dacl, index, &raw)) return {false, false, nullptr, 0};
  auto* header = static_cast<ACE_HEADER*>(raw);
  if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) return {false, false, nullptr, 0};
  // The allow and deny entries, callback ones included, share the layout of ACCESS_ALLOWED_ACE.
  auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
  PSID sid = &ace->SidStart;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      return {true, false, sid, ace->Mask};
    case ACCESS_DENIED_ACE_TYPE:
      // A callback deny may not apply: only an unconditional one takes rights off.
      return {false, true, sid, ace->Mask};
  }
  return {false, false, nullptr, 0};
}

}  // namespace

int JudgeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, StagingObject object, PSID self,
                            SecurityFinding* findings, int capacity) {
  int count = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
      !Trusted(owner, self) && count < capacity) {
    findings[count++] = {owner, 0};
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  DWORD counted = CountedRights(object);
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    AddRights(const_cast<SID*>(&Known().everyone.sid), counted, findings, capacity, &count);
    return count;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    Entry entry = ReadEntry(dacl, i);
    if (!entry.allows || Trusted(entry.sid, self) || Template(entry.sid)) continue;
    // The system reads the DACL in order and stops at the first entry that grants or denies a
    // right: a deny entry before this one for the same account takes its rights off it.
    DWORD denied = 0;
    for (DWORD j = 0; j < i; ++j) {
      Entry before = ReadEntry(dacl, j);
      if (before.denies && EqualSid(before.sid, entry.sid)) denied |= before.mask;
    }
    DWORD rights = entry.mask & ~denied & counted;
    if (rights != 0) AddRights(entry.sid, rights, findings, capacity, &count);
  }
  return count;
}

void DescribeRights(const SecurityFinding& finding, StagingObject object, char* text,
                    size_t capacity) {
  if (finding.rights == 0) {
    CopyBounded(text, capacity, "owns it, and may change who may change it");
    return;
  }
  bool folder = object != StagingObject::kFile;
  struct RightName {
    DWORD right;
    const char* name;
  };
  const RightName names[] = {
      {GENERIC_ALL, "do anything with it"},
      {GENERIC_WRITE, "write to it"},
      {WRITE_DAC, "change its permissions"},
      {WRITE_OWNER, "take ownership of it"},
      {DELETE, "delete or rename it"},
      {FILE_DELETE_CHILD, "delete entries in it"},
      {FILE_ADD_FILE, folder ? "add files to it" : "write its data"},
      {FILE_ADD_SUBDIRECTORY, folder ? "add folders to it" : "append to it"},
  };
  CopyBounded(text, capacity, "may ");
  bool first = true;
  for (const RightName& name : names) {
    if ((finding.rights & name.right) == 0) continue;
    if (!first) AppendBounded(text, capacity, ", ");
    AppendBounded(text, capacity, name.name);
    first = false;
  }
}
