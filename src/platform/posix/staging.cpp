// Who can change a staged bundle on Linux. Above the bundle: every folder in which the kernel looks
// a name up as it resolves the bundle's host path from "/", links followed as it follows them, so
// that the real path's folders and those holding a link on the way are judged. The bundle's folder
// and every entry under it are opened without following a link (a link is named, never followed).
// Trusted owners are root and the account the preflight runs as (its effective user); nothing may
// be writable by its group or by others, except a folder above the bundle that is root's and
// sticky (as /tmp), where no one may rename or delete what others own. Files are read for their
// SHA-256 (nettle) through the descriptor that judged them.
#include "platform/staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <nettle/sha2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "platform/posix/code_page_1252.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/process.h"

namespace {

constexpr int kMostLinks = 40;           // as the kernel follows on one path
constexpr int kMostJudgedFolders = 128;  // folders above the bundle remembered as judged
constexpr size_t kHashBlockBytes = 1 << 16;

enum class Place { kAbove, kBundle };

// An item by its host path: its Windows path when it lies in a drive folder of the prefix.
struct Item {
  StagingPath path;
  StagingPath hostPath;
};

void DescribeItem(const char* host, Item* item) {
  // A folder's Windows path ends in a separator, as a drive's own folder must.
  char folder[PATH_MAX + 1];
  if (!CopyBounded(folder, sizeof folder, host) || !AppendBounded(folder, sizeof folder, "/") ||
      !WindowsPathOfHostPath(folder, item->path.text, sizeof item->path.text)) {
    CopyText(&item->path, "");
  }
  ShowHostPath(host, item->hostPath.text, sizeof item->hostPath.text);
}

void NoteUnreadable(StagingReport* report, const char* host, int failure) {
  Item item;
  DescribeItem(host, &item);
  ErrorText reason;
  DescribeError(static_cast<uint32_t>(failure), &reason);
  AddStagingUnknown(report, item.path.text, item.hostPath.text, reason.text);
}

void NameAccount(bool group, unsigned id, StagingNote* who) {
  char buffer[2048];
  const char* name = nullptr;
  if (group) {
    struct group entry;
    struct group* found = nullptr;
    if (getgrgid_r(id, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
      name = found->gr_name;
    }
  } else {
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(id, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
      name = found->pw_name;
    }
  }
  char text[sizeof who->text];
  if (name != nullptr) {
    snprintf(text, sizeof text, "%s %s (%u)", group ? "group" : "user", name, id);
  } else {
    snprintf(text, sizeof text, "%s %u", group ? "group" : "user", id);
  }
  CopyText(who, text);
}

// The owner and the mode of one item by the rules of its place.
void Judge(const struct stat& status, Place place, const Item& item, StagingReport* report) {
  auto add = [&](const char* who, const char* how) {
    AddStagingFinding(report, item.path.text, item.hostPath.text, who, how);
  };
  StagingNote who;
  if (status.st_uid != 0 && status.st_uid != geteuid()) {
    NameAccount(false, status.st_uid, &who);
    add(who.text, "owns it, and may change it and who may change it");
  }
  bool folder = S_ISDIR(status.st_mode);
  bool sticky =
      place == Place::kAbove && folder && (status.st_mode & S_ISVTX) != 0 && status.st_uid == 0;
  const char* how = folder ? "may add, rename and delete entries in it" : "may change it";
  if (!sticky && (status.st_mode & S_IWGRP) != 0) {
    NameAccount(true, status.st_gid, &who);
    add(who.text, how);
  }
  if (!sticky && (status.st_mode & S_IWOTH) != 0) add("others", how);
  if (place == Place::kBundle && (status.st_mode & S_ISUID) != 0) {
    add(nullptr, "has the set-uid bit: whoever runs it runs as its owner");
  }
  if (place == Place::kBundle && (status.st_mode & S_ISGID) != 0) {
    add(nullptr, "has the set-gid bit: whoever runs it runs as its group");
  }
}

// The folders above the bundle already judged, so that a folder met twice (through a link back
// to it) is named once.
struct JudgedFolders {
  int count = 0;
  dev_t devices[kMostJudgedFolders];
  ino_t inodes[kMostJudgedFolders];
};

void JudgeAbove(int fd, const char* host, JudgedFolders* judged, StagingReport* report) {
  struct stat status;
  if (fstat(fd, &status) != 0) return NoteUnreadable(report, host, errno);
  for (int i = 0; i < judged->count; ++i) {
    if (judged->devices[i] == status.st_dev && judged->inodes[i] == status.st_ino) return;
  }
  if (judged->count < kMostJudgedFolders) {
    judged->devices[judged->count] = status.st_dev;
    judged->inodes[judged->count++] = status.st_ino;
  }
  Item item;
  DescribeItem(host, &item);
  Judge(status, Place::kAbove, item, report);
}

// Walks `path` from "/" as the kernel resolves it, judging each folder a name is looked up in.
// Returns the O_PATH descriptor of the folder it names and its host path in `reached`, or -1 once
// an unknown item says why it could not be walked.
int WalkToBundle(const char* path, char* reached, size_t capacity, StagingReport* report) {
  char pending[2 * PATH_MAX];
  if (!CopyBounded(pending, sizeof pending, path)) {
    NoteUnreadable(report, path, ENAMETOOLONG);
    return -1;
  }
  // The folders entered, "/" first, and the length of the walked path at each.
  int folders[PATH_MAX / 2];
  size_t lengths[PATH_MAX / 2];
  int depth = 0;
  folders[0] = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folders[0] < 0) {
    NoteUnreadable(report, "/", errno);
    return -1;
  }
  char walked[PATH_MAX] = "";
  lengths[0] = 0;
  JudgedFolders judged;
  int links = 0;
  int failure = 0;
  size_t at = 0;
  while (failure == 0) {
    while (pending[at] == '/') ++at;
    size_t length = strcspn(pending + at, "/");
    if (length == 0) break;
    char name[NAME_MAX + 1];
    if (length > NAME_MAX) {
      failure = ENAMETOOLONG;
      break;
    }
    memcpy(name, pending + at, length);
    name[length] = '\0';
    at += length;
    if (strcmp(name, ".") == 0) continue;
    if (strcmp(name, "..") == 0) {
      if (depth > 0) close(folders[depth--]);
      walked[lengths[depth]] = '\0';
      continue;
    }
    JudgeAbove(folders[depth], walked[0] != '\0' ? walked : "/", &judged, report);
    int next = openat(folders[depth], name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (next < 0 || fstat(next, &status) != 0) {
      failure = errno;
      if (next >= 0) close(next);
      AppendBounded(walked, sizeof walked, "/");
      AppendBounded(walked, sizeof walked, name);
      break;
    }
    if (S_ISDIR(status.st_mode) &&
        depth + 1 < static_cast<int>(sizeof folders / sizeof folders[0])) {
      folders[++depth] = next;
      AppendBounded(walked, sizeof walked, "/");
      AppendBounded(walked, sizeof walked, name);
      lengths[depth] = strlen(walked);
      continue;
    }
    char target[PATH_MAX];
    ssize_t targetLength =
        S_ISLNK(status.st_mode) ? readlinkat(next, "", target, sizeof target - 1) : -1;
    close(next);
    if (!S_ISLNK(status.st_mode)) {
      failure = S_ISDIR(status.st_mode) ? ENAMETOOLONG : ENOTDIR;
      break;
    }
    if (targetLength <= 0 || ++links > kMostLinks) {
      failure = targetLength <= 0 ? errno : ELOOP;
      break;
    }
    // The link's target takes its place, from "/" when it is absolute.
    target[targetLength] = '\0';
    if (!PutLinkTarget(target, pending, sizeof pending, at)) {
      failure = ENAMETOOLONG;
      break;
    }
    at = 0;
    if (target[0] == '/') {
      while (depth > 0) close(folders[depth--]);
      walked[0] = '\0';
    }
  }
  int result = -1;
  if (failure != 0) {
    NoteUnreadable(report, walked[0] != '\0' ? walked : "/", failure);
  } else {
    result = dup(folders[depth]);
    CopyBounded(reached, capacity, walked[0] != '\0' ? walked : "/");
  }
  for (int i = depth; i >= 0; --i) close(folders[i]);
  return result;
}

// Reads the regular file open (O_PATH) at `fd` once, through that descriptor, for its SHA-256.
int HashFile(int fd, unsigned char* digest) {
  char opened[32];
  snprintf(opened, sizeof opened, "/proc/self/fd/%d", fd);
  int file = open(opened, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) return errno;
  auto* block = static_cast<unsigned char*>(AllocateBuffer(kHashBlockBytes));
  int failure = block == nullptr ? ENOMEM : 0;
  sha256_ctx hash;
  sha256_init(&hash);
  while (failure == 0) {
    ssize_t got = read(file, block, kHashBlockBytes);
    if (got > 0) {
      sha256_update(&hash, static_cast<size_t>(got), block);
    } else if (got == 0) {
      sha256_digest(&hash, kSha256Bytes, digest);
      break;
    } else if (errno != EINTR) {
      failure = errno;
    }
  }
  ReleaseBuffer(block);
  close(file);
  return failure;
}

// What a bundle's walk carries from folder to folder.
struct BundleWalk {
  const char* platformFolder;  // the bundle's folder as a platform path, ending in a separator
  bool hash;
  StagingReport* report;
};

void JudgeEntry(const BundleWalk& walk, int fd, const struct stat& status, const char* relative,
                int depth);

// Judges the folder open at `fd` (`relative` to the bundle's folder, "" for the folder itself)
// and everything in it.
void WalkFolder(const BundleWalk& walk, int fd, const char* relative, int depth) {
  int listed = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = listed >= 0 ? fdopendir(listed) : nullptr;
  Item item;
  ShowBundleName(walk.platformFolder, relative, &item.path, &item.hostPath);
  if (entries == nullptr) {
    int failure = errno;
    if (listed >= 0) close(listed);
    ErrorText reason;
    DescribeError(static_cast<uint32_t>(failure), &reason);
    AddStagingUnknown(walk.report, item.path.text, item.hostPath.text, reason.text);
    return;
  }
  while (dirent* entry = readdir(entries)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    char name[kStagingNameCapacity];
    if (!CopyBounded(name, sizeof name, relative) ||
        (relative[0] != '\0' && !AppendBounded(name, sizeof name, "/")) ||
        !AppendBounded(name, sizeof name, entry->d_name)) {
      AddStagingUnknown(walk.report, item.path.text, item.hostPath.text,
                        "holds a name too long for the check");
      continue;
    }
    int child = openat(dirfd(entries), entry->d_name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (child < 0 || fstat(child, &status) != 0) {
      int failure = errno;
      if (child >= 0) close(child);
      Item entryItem;
      ShowBundleName(walk.platformFolder, name, &entryItem.path, &entryItem.hostPath);
      ErrorText reason;
      DescribeError(static_cast<uint32_t>(failure), &reason);
      AddStagingUnknown(walk.report, entryItem.path.text, entryItem.hostPath.text, reason.text);
      continue;
    }
    JudgeEntry(walk, child, status, name, depth + 1);
    close(child);
  }
  closedir(entries);
}

void JudgeEntry(const BundleWalk& walk, int fd, const struct stat& status, const char* relative,
                int depth) {
  Item item;
  ShowBundleName(walk.platformFolder, relative, &item.path, &item.hostPath);
  StagingReport* report = walk.report;
  auto add = [&](const char* how) {
    AddStagingFinding(report, item.path.text, item.hostPath.text, nullptr, how);
  };
  if (S_ISLNK(status.st_mode)) {
    char target[PATH_MAX];
    ssize_t length = readlinkat(fd, "", target, sizeof target - 1);
    target[length > 0 ? length : 0] = '\0';
    StagingPath shown;
    ShowHostPath(target, shown.text, sizeof shown.text);
    StagingNote how;
    CopyText(&how, "a symbolic link, which the check does not follow (to ");
    AppendText(&how, shown.text);
    AppendText(&how, ")");
    return add(how.text);
  }
  Judge(status, Place::kBundle, item, report);
  if (S_ISDIR(status.st_mode)) {
    if (depth > kMostBundleDepth) {
      char reason[96];
      snprintf(reason, sizeof reason, "more than %d folders deep, past what the check walks",
               kMostBundleDepth);
      AddStagingUnknown(report, item.path.text, item.hostPath.text, reason);
      return;
    }
    return WalkFolder(walk, fd, relative, depth);
  }
  if (!S_ISREG(status.st_mode)) return add("neither a regular file, a folder nor a link");
  if (status.st_nlink > 1) add("has a second name, by which others may reach it");
  ++report->files;
  if (report->bundleFileCount == kMostBundleFiles) {
    if (walk.hash && report->files == kMostBundleFiles + 1) {
      char reason[96];
      snprintf(reason, sizeof reason, "more than %d files, past what the check lists",
               kMostBundleFiles);
      Item folder;
      ShowBundleName(walk.platformFolder, "", &folder.path, &folder.hostPath);
      AddStagingUnknown(report, folder.path.text, folder.hostPath.text, reason);
    }
    return;
  }
  BundleFile& file = report->bundleFiles[report->bundleFileCount++];
  CopyText(&file.name, relative);
  if (!walk.hash) return;
  int failure = HashFile(fd, file.sha256);
  file.hashed = failure == 0;
  if (failure != 0) {
    ErrorText reason;
    DescribeError(static_cast<uint32_t>(failure), &reason);
    AddStagingUnknown(report, item.path.text, item.hostPath.text, reason.text);
  }
}

}  // namespace

void ShowBundleName(const char* folder, const char* name, StagingPath* path,
                    StagingPath* hostPath) {
  // The name as 1252 text with Windows separators after the folder's platform path.
  StagingPath shown;
  ShowHostPath(name, shown.text, sizeof shown.text);
  for (char* at = shown.text; *at != '\0'; ++at) {
    if (*at == '/') *at = '\\';
  }
  CopyText(path, folder);
  AppendText(path, shown.text);
  char mapped[kMappedPathCapacity];
  char host[kMappedPathCapacity];
  if (!MapPlatformPath(folder, mapped, sizeof mapped) ||
      !ResolveInsidePrefix(mapped, host, sizeof host)) {
    CopyBounded(host, sizeof host, mapped);
  }
  if (name[0] != '\0') {
    AppendBounded(host, sizeof host, "/");
    AppendBounded(host, sizeof host, name);
  }
  ShowHostPath(host, hostPath->text, sizeof hostPath->text);
}

void CheckStaging(const char* folder, bool hash, StagingReport* report) {
  char mapped[kMappedPathCapacity];
  char path[PATH_MAX + kMappedPathCapacity];
  if (!MapPlatformPath(folder, mapped, sizeof mapped)) {
    return AddStagingUnknown(report, folder, "", "its host path is too long for the check");
  }
  // A relative prefix lies below the current folder, where the kernel starts such a path.
  path[0] = '\0';
  if (mapped[0] != '/' && getcwd(path, PATH_MAX) == nullptr) {
    return NoteUnreadable(report, mapped, errno);
  }
  if (mapped[0] != '/') AppendBounded(path, sizeof path, "/");
  AppendBounded(path, sizeof path, mapped);
  char reached[PATH_MAX];
  int fd = WalkToBundle(path, reached, sizeof reached, report);
  if (fd < 0) return;
  struct stat status;
  if (fstat(fd, &status) != 0) {
    NoteUnreadable(report, reached, errno);
  } else {
    BundleWalk walk = {folder, hash, report};
    JudgeEntry(walk, fd, status, "", 0);
  }
  close(fd);
}

bool StagingNamesFollowWindows() { return false; }
