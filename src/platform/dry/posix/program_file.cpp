// The installer judged by the Linux loader's rules, on the file the launcher's start would open
// (OpenProgramFile): a regular file this user may execute that holds an ELF program for this
// machine (the class, byte order and machine of the running preflight) whose interpreter exists,
// or a script whose "#!" line names an interpreter that exists and may be executed. The errno of
// each refusal is the one execve gives.
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/dry/dry_checks.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"

namespace {

constexpr size_t kScriptLineBytes = 256;  // what the kernel reads of a script's first line

ProgramCheck Refuse(ProgramCheck check, int failure, const char* what, uint32_t* error,
                    DryReason* reason) {
  *error = static_cast<uint32_t>(failure);
  CopyText(reason, what);
  return check;
}

// A refusal that depends on who asks: root's is the launcher's too; anyone else's may not be.
ProgramCheck RefuseForUser(ProgramCheck check, int failure, const char* what, uint32_t* error,
                           DryReason* reason) {
  return Refuse(geteuid() == 0 ? check : ProgramCheck::kUnknown, failure, what, error, reason);
}

// An interpreter the kernel would load from the host's own root: there, and executable.
ProgramCheck CheckInterpreter(const char* interpreter, uint32_t* error, DryReason* reason) {
  if (access(interpreter, X_OK) == 0) return ProgramCheck::kStarts;
  int failure = errno;
  char what[PATH_MAX + 64];
  snprintf(what, sizeof what, "its interpreter %s %s", interpreter,
           failure == ENOENT ? "is missing" : "cannot be executed");
  return Refuse(ProgramCheck::kNotProgram, failure, what, error, reason);
}

ProgramCheck CheckElf(int fd, const ElfW(Ehdr) & header, uint32_t* error, DryReason* reason) {
  ElfW(Ehdr) own;
  char self[PATH_MAX];
  int ownFd = ReadOwnHostPath(self, sizeof self) ? open(self, O_RDONLY | O_CLOEXEC) : -1;
  bool known = ownFd >= 0 && pread(ownFd, &own, sizeof own, 0) == sizeof own;
  if (ownFd >= 0) close(ownFd);
  if (known &&
      (header.e_ident[EI_CLASS] != own.e_ident[EI_CLASS] ||
       header.e_ident[EI_DATA] != own.e_ident[EI_DATA] || header.e_machine != own.e_machine)) {
    return Refuse(ProgramCheck::kNotProgram, ENOEXEC, "an ELF file for another machine", error,
                  reason);
  }
  if (header.e_type != ET_EXEC && header.e_type != ET_DYN) {
    return Refuse(ProgramCheck::kNotProgram, ENOEXEC, "an ELF file that is not a program", error,
                  reason);
  }
  for (int i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment;
    off_t at = static_cast<off_t>(header.e_phoff + static_cast<size_t>(i) * sizeof segment);
    if (pread(fd, &segment, sizeof segment, at) != sizeof segment) break;
    if (segment.p_type != PT_INTERP) continue;
    char interpreter[PATH_MAX] = "";
    size_t length = segment.p_filesz < sizeof interpreter ? segment.p_filesz : 0;
    if (length == 0 || pread(fd, interpreter, length, static_cast<off_t>(segment.p_offset)) !=
                           static_cast<ssize_t>(length)) {
      return Refuse(ProgramCheck::kNotProgram, ENOEXEC, "an ELF program with a broken header",
                    error, reason);
    }
    interpreter[length - 1] = '\0';
    return CheckInterpreter(interpreter, error, reason);
  }
  return ProgramCheck::kStarts;
}

// "#!", blanks, the interpreter up to a blank or the end of the line, within the first bytes.
ProgramCheck CheckScript(const char* line, size_t length, uint32_t* error, DryReason* reason) {
  size_t at = 2;
  while (at < length && (line[at] == ' ' || line[at] == '\t')) ++at;
  size_t end = at;
  while (end < length && line[end] != ' ' && line[end] != '\t' && line[end] != '\n' &&
         line[end] != '\0') {
    ++end;
  }
  if (end == at || end == kScriptLineBytes) {
    return Refuse(ProgramCheck::kNotProgram, ENOEXEC, "a script whose #! line names no interpreter",
                  error, reason);
  }
  char interpreter[kScriptLineBytes];
  memcpy(interpreter, line + at, end - at);
  interpreter[end - at] = '\0';
  return CheckInterpreter(interpreter, error, reason);
}

ProgramCheck CheckOpened(int program, const struct stat& status, uint32_t* error,
                         DryReason* reason) {
  if (!S_ISREG(status.st_mode)) {
    return Refuse(ProgramCheck::kNotRegular, EACCES,
                  S_ISDIR(status.st_mode) ? "a folder" : "not a regular file", error, reason);
  }
  if ((status.st_mode & 0111) == 0) {
    return Refuse(ProgramCheck::kNotExecutable, EACCES, "no one may execute it", error, reason);
  }
  // The execute permission and the header of the file open, by the link to it that /proc keeps.
  char opened[32];
  snprintf(opened, sizeof opened, "/proc/self/fd/%d", program);
  if (faccessat(AT_FDCWD, opened, X_OK, AT_EACCESS) != 0) {
    return RefuseForUser(ProgramCheck::kNotExecutable, errno, "this user may not execute it", error,
                         reason);
  }
  int fd = open(opened, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return RefuseForUser(ProgramCheck::kNotProgram, errno, "its header cannot be read", error,
                         reason);
  }
  union {
    ElfW(Ehdr) elf;
    char line[kScriptLineBytes];
  } header = {};
  ssize_t length = pread(fd, &header, sizeof header, 0);
  ProgramCheck check;
  if (length >= static_cast<ssize_t>(sizeof header.elf) &&
      memcmp(header.line, ELFMAG, SELFMAG) == 0) {
    check = CheckElf(fd, header.elf, error, reason);
  } else if (length >= 2 && header.line[0] == '#' && header.line[1] == '!') {
    check = CheckScript(header.line, static_cast<size_t>(length), error, reason);
  } else {
    check = Refuse(ProgramCheck::kNotProgram, ENOEXEC,
                   "neither an ELF program nor a script with a #! line", error, reason);
  }
  close(fd);
  return check;
}

}  // namespace

ProgramCheck CheckProgramFile(const char* applicationPath, uint32_t* error, DryReason* reason) {
  struct stat status;
  int program = OpenProgramFile(applicationPath, &status);
  if (program < 0) {
    int failure = errno;
    DescribeError(static_cast<uint32_t>(failure), reason);
    *error = static_cast<uint32_t>(failure);
    return ErrorDecides(*error) ? ProgramCheck::kMissing : ProgramCheck::kUnknown;
  }
  *error = 0;
  ProgramCheck check = CheckOpened(program, status, error, reason);
  close(program);
  return check;
}
