// Who can change a staged bundle on Windows: the owner and the DACL of each folder from the
// drive's root (or a share's) down to the bundle's folder, read by name, and of the bundle's
// folder and every entry under it, read from the handle that opened it without following a
// reparse point (which is named, never followed). Files are read for their SHA-256 (CryptoAPI)
// through that same handle, which shares only reading, so that no one writes them meanwhile.
#include "platform/staging.h"

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "platform/process.h"
#include "platform/win32/staging_rule.h"

namespace {

constexpr DWORD kHashBlockBytes = 1 << 16;
constexpr int kWidePathCapacity = MAX_PATH + 1;

// A wide path or name as report text in the ANSI code page, '?' for what it lacks.
void ShowWide(const wchar_t* wide, StagingPath* shown) {
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, shown->text, sizeof shown->text, nullptr, nullptr) ==
      0) {
    CopyText(shown, "");
  }
}

// The account the preflight runs as: its token's user.
struct Self {
  unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  PSID sid = nullptr;
};

void ReadSelf(Self* self) {
  HANDLE token = nullptr;
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    if (GetTokenInformation(token, TokenUser, self->buffer, sizeof self->buffer, &size)) {
      self->sid = reinterpret_cast<TOKEN_USER*>(self->buffer)->User.Sid;
    }
    CloseHandle(token);
  }
}

// DOMAIN\name of an account, or its SID string when it has no name here.
void NameAccount(PSID sid, StagingNote* who) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use;
  wchar_t text[520];
  LPWSTR sidText = nullptr;
  if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    if (domain[0] != L'\0') {
      _snwprintf(text, 520, L"%ls\\%ls", domain, name);
    } else {
      _snwprintf(text, 520, L"%ls", name);
    }
    text[519] = L'\0';
  } else if (ConvertSidToStringSidW(sid, &sidText)) {
    lstrcpynW(text, sidText, 520);
    LocalFree(sidText);
  } else {
    lstrcpynW(text, L"an account", 520);
  }
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, who->text, sizeof who->text, nullptr, nullptr) ==
      0) {
    CopyText(who, "an account");
  }
}

struct Check {
  const char* folder;  // the bundle's folder, ending in a separator
  bool hash;
  HCRYPTPROV provider;
  DWORD providerError;  // why there is no provider, when hashing was asked for
  Self self;
  StagingReport* report;
};

void NoteUnreadable(StagingReport* report, const char* path, DWORD code) {
  ErrorText reason;
  DescribeError(code, &reason);
  AddStagingUnknown(report, path, path, reason.text);
}

void JudgeDescriptor(const Check& check, PSECURITY_DESCRIPTOR descriptor, StagingObject object,
                     const char* path) {
  SecurityFinding findings[kMostSecurityFindings];
  int count =
      JudgeSecurityDescriptor(descriptor, object, check.self.sid, findings, kMostSecurityFindings);
  for (int i = 0; i < count; ++i) {
    StagingNote who;
    char how[sizeof(StagingNote)];
    NameAccount(findings[i].who, &who);
    DescribeRights(findings[i], object, how, sizeof how);
    AddStagingFinding(check.report, path, path, who.text, how);
  }
}

// A folder above the bundle's, by its path with the separator that closes it (the report's), which
// the system takes without it but for a drive's root. A reparse point there (a junction, a link)
// is a finding rather than followed.
void JudgeFolderAbove(const Check& check, const char* path, StagingObject object) {
  wchar_t wide[kWidePathCapacity];
  int length = static_cast<int>(strlen(path));
  if (object != StagingObject::kDriveRoot) --length;
  int converted = MultiByteToWideChar(CP_ACP, 0, path, length, wide, kWidePathCapacity - 1);
  if (converted == 0) return NoteUnreadable(check.report, path, GetLastError());
  wide[converted] = L'\0';
  DWORD attributes = GetFileAttributesW(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return NoteUnreadable(check.report, path, GetLastError());
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    AddStagingFinding(check.report, path, path, nullptr,
                      "a reparse point (a junction or a link), which the check does not follow");
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetNamedSecurityInfoW(wide, SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return NoteUnreadable(check.report, path, error);
  JudgeDescriptor(check, descriptor, object, path);
  LocalFree(descriptor);
}

// Where the folders above the bundle's begin: past "X:\" or "\\server\share\".
size_t RootLength(const char* folder) {
  if (folder[0] != '\0' && folder[1] == ':' && folder[2] == '\\') return 3;
  if (folder[0] != '\\' || folder[1] != '\\') return 0;
  const char* at = folder + 2;
  for (int separators = 0; *at != '\0'; ++at) {
    if (*at == '\\' && ++separators == 2) return static_cast<size_t>(at - folder) + 1;
  }
  return 0;
}

int HashHandle(const Check& check, HANDLE file, unsigned char* digest) {
  HCRYPTHASH hash = 0;
  if (check.provider == 0) return static_cast<int>(check.providerError);
  if (!CryptCreateHash(check.provider, CALG_SHA_256, 0, 0, &hash)) {
    return static_cast<int>(GetLastError());
  }
  auto* block = static_cast<BYTE*>(AllocateBuffer(kHashBlockBytes));
  DWORD error = block == nullptr ? ERROR_NOT_ENOUGH_MEMORY : 0;
  for (DWORD got = 0; error == 0;) {
    if (!ReadFile(file, block, kHashBlockBytes, &got, nullptr)) {
      error = GetLastError();
    } else if (got == 0) {
      DWORD size = kSha256Bytes;
      if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) error = GetLastError();
      break;
    } else if (!CryptHashData(hash, block, got, 0)) {
      error = GetLastError();
    }
  }
  ReleaseBuffer(block);
  CryptDestroyHash(hash);
  return static_cast<int>(error);
}

void JudgeEntry(const Check& check, const wchar_t* wide, const char* relative, bool folder,
                int depth);

// Lists the folder at `wide` (`relative` to the bundle's folder, "" for the folder itself) and
// judges everything in it.
void WalkFolder(const Check& check, const wchar_t* wide, const char* relative, int depth) {
  StagingPath path;
  StagingPath host;
  ShowBundleName(check.folder, relative, &path, &host);
  wchar_t pattern[kWidePathCapacity];
  if (_snwprintf(pattern, kWidePathCapacity, L"%ls\\*", wide) < 0) {
    return AddStagingUnknown(check.report, path.text, host.text, "its path is too long");
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE)
    return NoteUnreadable(check.report, path.text, GetLastError());
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    wchar_t child[kWidePathCapacity];
    char name[kStagingNameCapacity];
    size_t used = strlen(relative);
    if (!CopyBounded(name, sizeof name, relative) ||
        (used > 0 && !AppendBounded(name, sizeof name, "/")) ||
        WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name + strlen(name),
                            static_cast<int>(sizeof name - strlen(name)), nullptr, nullptr) == 0 ||
        _snwprintf(child, kWidePathCapacity, L"%ls\\%ls", wide, found.cFileName) < 0) {
      AddStagingUnknown(check.report, path.text, host.text, "holds a name too long for the check");
      continue;
    }
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    JudgeEntry(check, child, name, isFolder, depth + 1);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void JudgeEntry(const Check& check, const wchar_t* wide, const char* relative, bool folder,
                int depth) {
  StagingReport* report = check.report;
  StagingPath path;
  StagingPath host;
  ShowBundleName(check.folder, relative, &path, &host);
  // A file read for its SHA-256 shares only reading, so that no one writes it meanwhile.
  bool reads = check.hash && !folder;
  DWORD access = READ_CONTROL | FILE_READ_ATTRIBUTES | (reads ? GENERIC_READ : 0);
  DWORD sharing = reads ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle = CreateFileW(wide, access, sharing, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return NoteUnreadable(report, path.text, GetLastError());
  BY_HANDLE_FILE_INFORMATION information;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetFileInformationByHandle(handle, &information) ? ERROR_SUCCESS : GetLastError();
  if (error == ERROR_SUCCESS) {
    error = GetSecurityInfo(handle, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor);
  }
  if (error != ERROR_SUCCESS) {
    CloseHandle(handle);
    return NoteUnreadable(report, path.text, error);
  }
  DWORD attributes = information.dwFileAttributes;
  folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  JudgeDescriptor(check, descriptor, folder ? StagingObject::kFolder : StagingObject::kFile,
                  path.text);
  LocalFree(descriptor);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    AddStagingFinding(report, path.text, host.text, nullptr,
                      "a reparse point (a junction or a link), which the check does not follow");
  } else if (folder) {
    if (depth > kMostBundleDepth) {
      char reason[96];
      snprintf(reason, sizeof reason, "more than %d folders deep, past what the check walks",
               kMostBundleDepth);
      AddStagingUnknown(report, path.text, host.text, reason);
    } else {
      WalkFolder(check, wide, relative, depth);
    }
  } else {
    if (information.nNumberOfLinks > 1) {
      AddStagingFinding(report, path.text, host.text, nullptr,
                        "has a second name, by which others may reach it");
    }
    ++report->files;
    if (report->bundleFileCount < kMostBundleFiles) {
      BundleFile& file = report->bundleFiles[report->bundleFileCount++];
      CopyText(&file.name, relative);
      if (check.hash) {
        int failure = HashHandle(check, handle, file.sha256);
        file.hashed = failure == 0;
        if (failure != 0) NoteUnreadable(report, path.text, static_cast<DWORD>(failure));
      }
    } else if (check.hash && report->files == kMostBundleFiles + 1) {
      char reason[96];
      snprintf(reason, sizeof reason, "more than %d files, past what the check lists",
               kMostBundleFiles);
      AddStagingUnknown(report, check.folder, check.folder, reason);
    }
  }
  CloseHandle(handle);
}

}  // namespace

void ShowBundleName(const char* folder, const char* name, StagingPath* path,
                    StagingPath* hostPath) {
  wchar_t wide[kStagingNameCapacity];
  StagingPath shown;
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, kStagingNameCapacity) == 0) {
    CopyText(&shown, "?");
  } else {
    ShowWide(wide, &shown);
  }
  for (char* at = shown.text; *at != '\0'; ++at) {
    if (*at == '/') *at = '\\';
  }
  CopyText(path, folder);
  AppendText(path, shown.text);
  *hostPath = *path;
}

void CheckStaging(const char* folder, bool hash, StagingReport* report) {
  static Check check;
  check = {};
  check.folder = folder;
  check.hash = hash;
  check.report = report;
  ReadSelf(&check.self);
  if (hash &&
      !CryptAcquireContextW(&check.provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    check.provider = 0;
    check.providerError = GetLastError();
  }
  size_t root = RootLength(folder);
  size_t length = strlen(folder);
  if (root == 0) {
    AddStagingUnknown(report, folder, folder, "no drive or share the check knows to start from");
  } else {
    // Each folder above the bundle's, the drive's root first.
    char above[MAX_PATH + 1];
    for (size_t end = root - 1; end + 1 < length && end + 1 < sizeof above; ++end) {
      if (folder[end] != '\\') continue;
      memcpy(above, folder, end + 1);
      above[end + 1] = '\0';
      JudgeFolderAbove(check, above,
                       end + 1 == root ? StagingObject::kDriveRoot : StagingObject::kFolder);
    }
    wchar_t wide[kWidePathCapacity];
    int converted = MultiByteToWideChar(CP_ACP, 0, folder, static_cast<int>(length - 1), wide,
                                        kWidePathCapacity - 1);
    if (converted == 0) {
      NoteUnreadable(report, folder, GetLastError());
    } else {
      wide[converted] = L'\0';
      JudgeEntry(check, wide, "", true, 0);
    }
  }
  if (check.provider != 0) CryptReleaseContext(check.provider, 0);
}

bool StagingNamesFollowWindows() { return true; }
