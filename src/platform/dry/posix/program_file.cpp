// The installer judged as the Linux kernel's execve judges the file the launcher's start executes
// (OpenProgramFile): a regular file this user may execute, on a file system that allows it, whose
// first bytes the kernel hands to a handler. A "#!" script's interpreter is opened from the host's
// root and judged again, as the kernel nests them (at most five files after the program, the
// last no script); an ELF program must be for a machine this kernel runs, with its program
// headers whole and an ELF interpreter, when it names one, for the same machine. Each refusal has
// the errno execve gives; a question that cannot be answered from here leaves the file unknown,
// never "not a program".
//
// Which machines the kernel runs is read as it reports them: the preflight's own kind (it runs),
// the kernel's own machine from uname (unless a 32-bit personality changes what uname says), and
// for the 32-bit kinds an x86-64 kernel runs only when it was built for them (i386, x32), the
// kernel's own answer to a tiny static program of that kind, started from memory, that ends at
// once. Handlers registered with binfmt_misc are not looked at.
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/dry/dry_checks.h"
#include "platform/posix/open_file.h"

// The running preflight's own ELF header, which the link maps with the program.
extern "C" const ElfW(Ehdr) __ehdr_start;

namespace {

constexpr size_t kHeaderBytes = 256;  // what the kernel reads of a file to pick its handler
// The kernel looks for a handler for the program and, one after another, for at most five files it
// is handed on to: a script may name a script as its interpreter four levels deep.
constexpr int kDeepestHandler = 5;
constexpr size_t kMostProgramHeaderBytes = 65536;
constexpr size_t kMostInterpreterBytes = PATH_MAX;  // an ELF interpreter's name, its NUL included
constexpr int kProbeExitCode = 42;
constexpr uint64_t kMostFileOffset = INT64_MAX;  // the kernel's reads refuse offsets past it

// The first bytes of a file as the kernel reads them: zero past what the file holds.
struct Header {
  unsigned char bytes[kHeaderBytes];
  ssize_t length;
};

// What is judged, for the reasons: the installer itself (empty) or an interpreter it leads to.
struct Subject {
  const char* path;
  int depth;  // 0: the installer; n: the n-th file the kernel is handed on to
};

ProgramCheck Refuse(ProgramCheck check, int failure, const char* what, const Subject& subject,
                    uint32_t* error, DryReason* reason) {
  *error = static_cast<uint32_t>(failure);
  // Copied piece by piece: a long path is cut rather than the reason lost.
  CopyText(reason, "");
  if (subject.depth > 0) {
    AppendText(reason, "its interpreter ");
    AppendText(reason, subject.path);
    AppendText(reason, ": ");
  }
  AppendText(reason, what);
  return check;
}

// A refusal of the installer (`check`) or, deeper, of what it leads to: a program that is not
// one, unless it is not known.
ProgramCheck RefuseAt(ProgramCheck check, int failure, const char* what, const Subject& subject,
                      uint32_t* error, DryReason* reason) {
  bool deeper = subject.depth > 0 && check != ProgramCheck::kUnknown;
  return Refuse(deeper ? ProgramCheck::kNotProgram : check, failure, what, subject, error, reason);
}

ProgramCheck Unknown(const char* what, const Subject& subject, uint32_t* error, DryReason* reason) {
  return Refuse(ProgramCheck::kUnknown, 0, what, subject, error, reason);
}

// A failed system call: decided when the launcher's start meets the error the same way, else
// unknown; the reason holds the system's text.
ProgramCheck Failed(ProgramCheck decided, int failure, const char* what, const Subject& subject,
                    uint32_t* error, DryReason* reason) {
  DryReason text;
  DescribeError(static_cast<uint32_t>(failure), &text);
  if (what[0] != '\0') {
    DryReason described = text;
    CopyText(&text, what);
    AppendText(&text, ": ");
    AppendText(&text, described.text);
  }
  bool decides = ErrorDecides(static_cast<uint32_t>(failure));
  return RefuseAt(decides ? decided : ProgramCheck::kUnknown, failure, text.text, subject, error,
                  reason);
}

// A refusal that depends on who asks: root's is the launcher's too; anyone else's may not be.
ProgramCheck RefuseForUser(ProgramCheck check, int failure, const char* what,
                           const Subject& subject, uint32_t* error, DryReason* reason) {
  return RefuseAt(geteuid() == 0 ? check : ProgramCheck::kUnknown, failure, what, subject, error,
                  reason);
}

// ---- which machines this kernel runs

// A kind of 32-bit program that a 64-bit kernel runs only when it was built for it: the bytes of
// a static program of that kind that ends at once with kProbeExitCode.
struct Probe {
  uint16_t machine;
  const char* kind;  // with its article
  std::array<unsigned char, 96> program;
};

// One program header mapping the whole file, then twelve bytes of code at its end.
constexpr std::array<unsigned char, 96> ProbeProgram(uint16_t machine,
                                                     const std::array<unsigned char, 12>& code) {
  std::array<unsigned char, 96> bytes = {0x7F, 'E', 'L', 'F', ELFCLASS32, ELFDATA2LSB, EV_CURRENT};
  auto put = [&bytes](size_t at, uint32_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  constexpr uint32_t kBase = 0x08048000;
  put(16, ET_EXEC, 2);
  put(18, machine, 2);
  put(20, EV_CURRENT, 4);
  put(24, kBase + 84, 4);  // the entry: the code after the headers
  put(28, 52, 4);          // the program headers, after the ELF header
  put(40, 52, 2);
  put(42, 32, 2);
  put(44, 1, 2);
  put(52, PT_LOAD, 4);
  put(60, kBase, 4);
  put(64, kBase, 4);
  put(68, 96, 4);
  put(72, 96, 4);
  put(76, PF_R | PF_X, 4);
  put(80, 0x1000, 4);
  for (size_t i = 0; i < code.size(); ++i) bytes[84 + i] = code[i];
  return bytes;
}

const Probe kProbes[] = {
    // mov eax, 1 (exit); mov ebx, 42; int 0x80
    {EM_386, "a 32-bit x86",
     ProbeProgram(EM_386, {0xB8, 1, 0, 0, 0, 0xBB, kProbeExitCode, 0, 0, 0, 0xCD, 0x80})},
    // mov eax, 60 (exit); mov edi, 42; syscall
    {EM_X86_64, "an x32",
     ProbeProgram(EM_X86_64, {0xB8, 60, 0, 0, 0, 0xBF, kProbeExitCode, 0, 0, 0, 0x0F, 0x05})},
};

// The kernel's answers to the probes, asked once a run.
ProgramCheck probeAnswers[std::size(kProbes)];
bool probeAsked[std::size(kProbes)];

// MFD_EXEC, which headers older than the kernels that know it lack: an executable memory file.
constexpr unsigned kMemfdExec = 0x0010;

// The kernel's own answer for a probe: kStarts, kNotProgram when it refuses such programs
// (ENOEXEC), kUnknown when it could not be asked.
ProgramCheck AskKernel(const Probe& probe) {
  int program = memfd_create("hotfix-preflight-probe", MFD_CLOEXEC | kMemfdExec);
  if (program < 0 && errno == EINVAL) program = memfd_create("hotfix-preflight-probe", MFD_CLOEXEC);
  if (program < 0) return ProgramCheck::kUnknown;
  int report[2] = {-1, -1};
  bool ready = write(program, probe.program.data(), probe.program.size()) ==
                   static_cast<ssize_t>(probe.program.size()) &&
               pipe2(report, O_CLOEXEC) == 0;
  pid_t child = ready ? fork() : -1;
  if (child == 0) {
    char name[] = "probe";
    char* argv[] = {name, nullptr};
    char* envp[] = {nullptr};
    fexecve(program, argv, envp);
    // Valgrind fails an execveat of the descriptor itself; the link /proc keeps to it starts the
    // same file.
    char opened[32];
    snprintf(opened, sizeof opened, "/proc/self/fd/%d", program);
    if (errno == ENOENT) execve(opened, argv, envp);
    int failure = errno;
    ssize_t written = write(report[1], &failure, sizeof failure);
    _exit(written == sizeof failure ? 127 : 126);
  }
  close(program);
  if (report[1] >= 0) close(report[1]);
  int failure = 0;
  ssize_t got = -1;
  if (child > 0) {
    do {
      got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
  }
  if (report[0] >= 0) close(report[0]);
  int status = 0;
  bool waited = child > 0 && waitpid(child, &status, 0) == child;
  if (got == sizeof failure) {
    return failure == ENOEXEC ? ProgramCheck::kNotProgram : ProgramCheck::kUnknown;
  }
  bool ran = waited && got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == kProbeExitCode;
  return ran ? ProgramCheck::kStarts : ProgramCheck::kUnknown;
}

// The kernel's machine as uname names it, with the class of its own programs, and the machine of
// the 32-bit programs it may run beside them (EM_NONE: none).
struct KernelMachine {
  const char* name;
  unsigned char elfClass;
  uint16_t machine;
  uint16_t compatMachine;
};

constexpr KernelMachine kKernelMachines[] = {
    {"x86_64", ELFCLASS64, EM_X86_64, EM_386}, {"aarch64", ELFCLASS64, EM_AARCH64, EM_ARM},
    {"i386", ELFCLASS32, EM_386, EM_NONE},     {"i486", ELFCLASS32, EM_386, EM_NONE},
    {"i586", ELFCLASS32, EM_386, EM_NONE},     {"i686", ELFCLASS32, EM_386, EM_NONE},
};

// The kernel's own machine, or nullptr when it is not one of those above or uname may not say it:
// a 32-bit personality makes a 64-bit kernel name a 32-bit machine.
const KernelMachine* FindKernelMachine() {
  utsname system;
  int persona = personality(0xFFFFFFFF);
  if (persona == -1 || (persona & PER_MASK) == PER_LINUX32 || uname(&system) != 0) return nullptr;
  for (const KernelMachine& known : kKernelMachines) {
    if (strcmp(system.machine, known.name) == 0) return &known;
  }
  return nullptr;
}

// One of the kernel's ELF handlers, in the order it tries them: the machine it takes and the class
// whose layout it reads a file in, whatever the file's own class byte says; whether this kernel
// has it (kStarts), has not (kNotProgram) or may have it (kUnknown), or the probe that asks.
struct ElfHandler {
  uint16_t machine;
  unsigned char layout;
  ProgramCheck present;
  const Probe* probe;
};

constexpr int kMostElfHandlers = 2 + std::size(kProbes);

// The handlers this kernel may have: those of the preflight's own programs (it runs) and of the
// kernel's own machine, then the 32-bit ones beside them. Sets *complete when no other may be.
int ListElfHandlers(ElfHandler* handlers, bool* complete) {
  int count = 0;
  handlers[count++] = {__ehdr_start.e_machine, __ehdr_start.e_ident[EI_CLASS],
                       ProgramCheck::kStarts, nullptr};
  const KernelMachine* kernel = FindKernelMachine();
  *complete = kernel != nullptr;
  if (kernel == nullptr) return count;
  handlers[count++] = {kernel->machine, kernel->elfClass, ProgramCheck::kStarts, nullptr};
  if (kernel->compatMachine == EM_NONE) return count;
  bool probed = false;
  for (const Probe& probe : kProbes) {
    if (probe.machine != kernel->compatMachine && probe.machine != kernel->machine) continue;
    handlers[count++] = {probe.machine, ELFCLASS32, ProgramCheck::kUnknown, &probe};
    probed = probed || probe.machine == kernel->compatMachine;
  }
  if (!probed) {
    handlers[count++] = {kernel->compatMachine, ELFCLASS32, ProgramCheck::kUnknown, nullptr};
  }
  return count;
}

// Whether the kernel has the handler, asking it when a probe can.
ProgramCheck HandlerPresent(const ElfHandler& handler) {
  if (handler.probe == nullptr) return handler.present;
  size_t at = static_cast<size_t>(handler.probe - kProbes);
  if (!probeAsked[at]) probeAnswers[at] = AskKernel(*handler.probe);
  probeAsked[at] = true;
  return probeAnswers[at];
}

// ---- files the kernel is handed

ProgramCheck JudgeInterpreter(const char* path, const Subject& subject, uint32_t* error,
                              DryReason* reason);

// What the kernel checks of a file before it reads it (a regular file, on a file system that
// allows execution, that this user may execute), then its first bytes into `header`; returns
// kStarts when they may be judged, `readable` open to read the rest.
ProgramCheck OpenExecutable(int file, const struct stat& status, const Subject& subject,
                            Header* header, int* readable, uint32_t* error, DryReason* reason) {
  *readable = -1;
  if (!S_ISREG(status.st_mode)) {
    return RefuseAt(ProgramCheck::kNotRegular, EACCES,
                    S_ISDIR(status.st_mode) ? "a folder" : "not a regular file", subject, error,
                    reason);
  }
  struct statvfs fileSystem;
  if (fstatvfs(file, &fileSystem) != 0) {
    return Failed(ProgramCheck::kUnknown, errno, "its file system cannot be looked at", subject,
                  error, reason);
  }
  if ((fileSystem.f_flag & ST_NOEXEC) != 0) {
    return RefuseAt(ProgramCheck::kNotExecutable, EACCES,
                    "it lies on a file system mounted without the right to execute", subject, error,
                    reason);
  }
  if ((status.st_mode & 0111) == 0) {
    return RefuseAt(ProgramCheck::kNotExecutable, EACCES, "no one may execute it", subject, error,
                    reason);
  }
  // The execute permission and the header of the file open, by the link to it that /proc keeps.
  char opened[32];
  snprintf(opened, sizeof opened, "/proc/self/fd/%d", file);
  if (faccessat(AT_FDCWD, opened, X_OK, AT_EACCESS) != 0) {
    return errno == EACCES
               ? RefuseForUser(ProgramCheck::kNotExecutable, EACCES, "this user may not execute it",
                               subject, error, reason)
               : Failed(ProgramCheck::kUnknown, errno, "whether it may be executed cannot be told",
                        subject, error, reason);
  }
  // The kernel reads the file whoever may: one this user cannot read is not known.
  *readable = open(opened, O_RDONLY | O_CLOEXEC);
  if (*readable < 0) {
    return Failed(ProgramCheck::kUnknown, errno, "its header cannot be read", subject, error,
                  reason);
  }
  memset(header->bytes, 0, sizeof header->bytes);
  header->length = pread(*readable, header->bytes, sizeof header->bytes, 0);
  if (header->length < 0) {
    return Failed(ProgramCheck::kUnknown, errno, "its header cannot be read", subject, error,
                  reason);
  }
  return ProgramCheck::kStarts;
}

// An interpreter as the kernel opens it by its name (open_exec, from the host's root): an
// absolute path to a file it may execute, whose first bytes are then in `header` and the rest
// for `readable`.
ProgramCheck OpenInterpreter(const Subject& subject, Header* header, int* readable, uint32_t* error,
                             DryReason* reason) {
  *readable = -1;
  if (subject.path[0] == '\0') {
    return Refuse(ProgramCheck::kNotProgram, ENOENT, "an interpreter whose name is empty", {"", 0},
                  error, reason);
  }
  if (subject.path[0] != '/') {
    return Unknown("a relative path, which the kernel looks up from the launcher's current folder",
                   subject, error, reason);
  }
  int file = open(subject.path, O_PATH | O_CLOEXEC);
  if (file < 0) return Failed(ProgramCheck::kNotProgram, errno, "", subject, error, reason);
  struct stat status;
  ProgramCheck check =
      fstat(file, &status) != 0
          ? Failed(ProgramCheck::kUnknown, errno, "it cannot be looked at", subject, error, reason)
          : OpenExecutable(file, status, subject, header, readable, error, reason);
  close(file);
  return check;
}

bool IsSpaceOrTab(unsigned char c) { return c == ' ' || c == '\t'; }

// The first byte from `first` up to `last` (included) that is no blank or tab; nullptr when none.
const unsigned char* NextNonSpaceTab(const unsigned char* first, const unsigned char* last) {
  for (; first <= last; ++first) {
    if (!IsSpaceOrTab(*first)) return first;
  }
  return nullptr;
}

// The first blank, tab or NUL from `first` up to `last` (included); nullptr when none.
const unsigned char* NextTerminator(const unsigned char* first, const unsigned char* last) {
  for (; first <= last; ++first) {
    if (IsSpaceOrTab(*first) || *first == '\0') return first;
  }
  return nullptr;
}

// A "#!" line as the kernel parses it from the first 256 bytes: it ends at the first line feed
// before any NUL or, with none, at the last byte, when a blank, tab or NUL after the name's start
// shows that the name is whole; the interpreter's name runs from the first byte after the blanks
// to the next blank, tab or NUL.
ProgramCheck JudgeScript(const Header& header, const Subject& subject, uint32_t* error,
                         DryReason* reason) {
  const unsigned char* bytes = header.bytes;
  const unsigned char* last = bytes + kHeaderBytes - 1;
  size_t text = strnlen(reinterpret_cast<const char*>(bytes), kHeaderBytes);
  const unsigned char* end = static_cast<const unsigned char*>(memchr(bytes, '\n', text));
  if (end == nullptr) {
    end = NextNonSpaceTab(bytes + 2, last);
    if (end == nullptr || NextTerminator(end, last) == nullptr) {
      return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC,
                      "a script whose #! line is cut before its interpreter's name ends", subject,
                      error, reason);
    }
    end = last;
  }
  while (IsSpaceOrTab(end[-1])) --end;
  const unsigned char* name = NextNonSpaceTab(bytes + 2, end);
  if (name == nullptr || name == end) {
    return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC,
                    "a script whose #! line names no interpreter", subject, error, reason);
  }
  const unsigned char* nameEnd = NextTerminator(name, end);
  if (nameEnd == nullptr) nameEnd = end;
  // A NUL where the name starts names the empty path, which the kernel's open does not find.
  char interpreter[kHeaderBytes];
  memcpy(interpreter, name, static_cast<size_t>(nameEnd - name));
  interpreter[nameEnd - name] = '\0';
  return JudgeInterpreter(interpreter, subject, error, reason);
}

// The program headers of an ELF file of the class Ehdr and Phdr are for, read whole into
// `headers` as the kernel reads them: of their class's size, at least one, within what it reads.
// The check is kStarts when they are, else ENOEXEC (`refusal` for the kind of refusal).
template <typename Ehdr, typename Phdr>
ProgramCheck ReadProgramHeaders(int file, const Ehdr& elf, Phdr* headers, ProgramCheck refusal,
                                int refusalError, const Subject& subject, uint32_t* error,
                                DryReason* reason) {
  size_t size = static_cast<size_t>(elf.e_phnum) * sizeof(Phdr);
  if (elf.e_phentsize != sizeof(Phdr) || size == 0 || size > kMostProgramHeaderBytes) {
    return RefuseAt(refusal, refusalError,
                    "an ELF file whose program headers are none, too many or not of its class's "
                    "size",
                    subject, error, reason);
  }
  // Kernels before 6.x refuse program headers that fill more than a page.
  if (size > static_cast<size_t>(getpagesize())) {
    return Unknown(
        "an ELF file whose program headers fill more than a page, which some kernels "
        "refuse",
        subject, error, reason);
  }
  // An offset past what a file can hold reads nothing, as the kernel's read refuses it.
  ssize_t got = elf.e_phoff > kMostFileOffset
                    ? 0
                    : pread(file, headers, size, static_cast<off_t>(elf.e_phoff));
  if (got < 0) {
    return Failed(ProgramCheck::kUnknown, errno, "its program headers cannot be read", subject,
                  error, reason);
  }
  if (static_cast<size_t>(got) != size) {
    return RefuseAt(refusal, refusalError,
                    "an ELF file cut short: its program headers are not all there", subject, error,
                    reason);
  }
  return ProgramCheck::kStarts;
}

// An ELF program's interpreter (PT_INTERP) as the kernel loads it: an absolute path to a file it
// may execute, holding an ELF header for the program's machine with whole program headers.
template <typename Ehdr, typename Phdr>
ProgramCheck JudgeElfInterpreter(const char* path, uint16_t machine, const Subject& program,
                                 uint32_t* error, DryReason* reason) {
  Subject subject = {path, program.depth + 1};
  Header header;
  int readable = -1;
  ProgramCheck check = OpenInterpreter(subject, &header, &readable, error, reason);
  if (check == ProgramCheck::kStarts) {
    Ehdr elf;
    memcpy(&elf, header.bytes, sizeof elf);
    static Phdr headers[kMostProgramHeaderBytes / sizeof(Phdr)];
    if (header.length < static_cast<ssize_t>(sizeof elf)) {
      check = RefuseAt(ProgramCheck::kNotProgram, EIO, "an ELF header cut short", subject, error,
                       reason);
    } else if (memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 || elf.e_machine != machine) {
      check = RefuseAt(ProgramCheck::kNotProgram, ELIBBAD,
                       "not an ELF file for the program's machine", subject, error, reason);
    } else {
      check = ReadProgramHeaders(readable, elf, headers, ProgramCheck::kNotProgram, ELIBBAD,
                                 subject, error, reason);
    }
  }
  if (readable >= 0) close(readable);
  return check;
}

// An ELF program of the class Ehdr and Phdr are for: its program headers whole and its
// interpreter, the first it names, one the kernel loads.
template <typename Ehdr, typename Phdr>
ProgramCheck JudgeElfLayout(int file, const Header& header, const Subject& subject, uint32_t* error,
                            DryReason* reason) {
  Ehdr elf;
  memcpy(&elf, header.bytes, sizeof elf);
  static Phdr headers[kMostProgramHeaderBytes / sizeof(Phdr)];
  ProgramCheck check = ReadProgramHeaders(file, elf, headers, ProgramCheck::kNotProgram, ENOEXEC,
                                          subject, error, reason);
  if (check != ProgramCheck::kStarts) return check;
  for (int i = 0; i < elf.e_phnum; ++i) {
    const Phdr& segment = headers[i];
    if (segment.p_type != PT_INTERP) continue;
    if (segment.p_filesz < 2 || segment.p_filesz > kMostInterpreterBytes) {
      return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC,
                      "an ELF program whose interpreter's name is empty or too long", subject,
                      error, reason);
    }
    char interpreter[kMostInterpreterBytes];
    size_t length = static_cast<size_t>(segment.p_filesz);
    if (segment.p_offset > kMostFileOffset) {
      return RefuseAt(ProgramCheck::kNotProgram, EINVAL,
                      "an ELF program whose interpreter's name lies past any file's end", subject,
                      error, reason);
    }
    ssize_t got = pread(file, interpreter, length, static_cast<off_t>(segment.p_offset));
    if (got < 0) {
      return Failed(ProgramCheck::kUnknown, errno, "its interpreter's name cannot be read", subject,
                    error, reason);
    }
    if (static_cast<size_t>(got) != length) {
      return RefuseAt(ProgramCheck::kNotProgram, EIO,
                      "an ELF program cut short: its interpreter's name is not all there", subject,
                      error, reason);
    }
    if (interpreter[length - 1] != '\0') {
      return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC,
                      "an ELF program whose interpreter's name does not end", subject, error,
                      reason);
    }
    return JudgeElfInterpreter<Ehdr, Phdr>(interpreter, elf.e_machine, subject, error, reason);
  }
  return ProgramCheck::kStarts;
}

// An ELF file as the kernel's ELF handlers take it, one after another: each that takes its machine
// reads it in its own layout, and a refusal with ENOEXEC leaves it to the next. The kernel is asked
// whether it has a handler only for a file that handler would take.
ProgramCheck JudgeElf(int file, const Header& header, const Subject& subject, uint32_t* error,
                      DryReason* reason) {
  uint16_t type = 0;
  uint16_t machine = 0;
  memcpy(&type, header.bytes + offsetof(Elf32_Ehdr, e_type), sizeof type);
  memcpy(&machine, header.bytes + offsetof(Elf32_Ehdr, e_machine), sizeof machine);
  if (type != ET_EXEC && type != ET_DYN) {
    return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC, "an ELF file that is not a program",
                    subject, error, reason);
  }
  ElfHandler handlers[kMostElfHandlers];
  bool complete = false;
  int count = ListElfHandlers(handlers, &complete);
  bool mayRun = !complete;     // some handler may take it: whether any does is not known
  const char* kind = nullptr;  // the kind of program whose handler the kernel lacks
  uint32_t firstError = 0;     // the first refusal of a handler that read it, and why
  DryReason firstReason;
  for (int i = 0; i < count; ++i) {
    if (handlers[i].machine != machine) continue;
    // The file as this handler reads it, before the kernel is asked whether it has the handler:
    // one that would refuse the file with ENOEXEC passes it on either way.
    uint32_t layoutError = 0;
    DryReason layoutReason;
    ProgramCheck check = handlers[i].layout == ELFCLASS64
                             ? JudgeElfLayout<Elf64_Ehdr, Elf64_Phdr>(file, header, subject,
                                                                      &layoutError, &layoutReason)
                             : JudgeElfLayout<Elf32_Ehdr, Elf32_Phdr>(file, header, subject,
                                                                      &layoutError, &layoutReason);
    if (check == ProgramCheck::kNotProgram && layoutError == ENOEXEC) {
      if (firstError == 0) {
        firstError = layoutError;
        firstReason = layoutReason;
      }
      continue;
    }
    ProgramCheck present = HandlerPresent(handlers[i]);
    if (present == ProgramCheck::kStarts) {
      *error = layoutError;
      *reason = layoutReason;
      return check;
    }
    mayRun = mayRun || present == ProgramCheck::kUnknown;
    // The reason names the kind the file's own class byte says it is, when the kernel lacks it.
    if (present == ProgramCheck::kNotProgram && handlers[i].probe != nullptr &&
        handlers[i].layout == header.bytes[EI_CLASS]) {
      kind = handlers[i].probe->kind;
    }
  }
  char what[160];
  if (mayRun) {
    snprintf(what, sizeof what,
             "an ELF file for machine %u, and this kernel could not be asked whether it runs one",
             machine);
    return Unknown(what, subject, error, reason);
  }
  if (kind == nullptr && firstError != 0) {
    *error = firstError;
    *reason = firstReason;
    return ProgramCheck::kNotProgram;
  }
  if (kind != nullptr) {
    snprintf(what, sizeof what, "%s program, which this kernel does not run", kind);
  } else {
    snprintf(what, sizeof what, "an ELF file for machine %u, which this kernel does not run",
             machine);
  }
  return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC, what, subject, error, reason);
}

// The handler the kernel picks by a file's first bytes.
ProgramCheck JudgeContent(int file, const Header& header, const Subject& subject, uint32_t* error,
                          DryReason* reason) {
  if (header.length >= 2 && header.bytes[0] == '#' && header.bytes[1] == '!') {
    return JudgeScript(header, subject, error, reason);
  }
  if (header.length >= SELFMAG && memcmp(header.bytes, ELFMAG, SELFMAG) == 0) {
    return JudgeElf(file, header, subject, error, reason);
  }
  return RefuseAt(ProgramCheck::kNotProgram, ENOEXEC,
                  "neither an ELF program nor a script with a #! line", subject, error, reason);
}

// A file opened for neither reading nor writing, judged as the kernel judges it at that depth.
ProgramCheck JudgeFile(int file, const struct stat& status, const Subject& subject, uint32_t* error,
                       DryReason* reason) {
  Header header;
  int readable = -1;
  ProgramCheck check = OpenExecutable(file, status, subject, &header, &readable, error, reason);
  if (check == ProgramCheck::kStarts)
    check = JudgeContent(readable, header, subject, error, reason);
  if (readable >= 0) close(readable);
  return check;
}

// A script's interpreter as the kernel opens it (from the host's root, as open_exec does) and
// hands the script on to it.
ProgramCheck JudgeInterpreter(const char* path, const Subject& script, uint32_t* error,
                              DryReason* reason) {
  Subject subject = {path, script.depth + 1};
  Header header;
  int readable = -1;
  ProgramCheck check = OpenInterpreter(subject, &header, &readable, error, reason);
  if (check == ProgramCheck::kStarts && subject.depth > kDeepestHandler) {
    check = Refuse(ProgramCheck::kNotProgram, ELOOP,
                   "scripts nested deeper than the kernel follows them", {"", 0}, error, reason);
  }
  if (check == ProgramCheck::kStarts)
    check = JudgeContent(readable, header, subject, error, reason);
  if (readable >= 0) close(readable);
  return check;
}

}  // namespace

ProgramCheck CheckProgramFile(const char* applicationPath, uint32_t* error, DryReason* reason) {
  struct stat status;
  int program = OpenProgramFile(applicationPath, &status);
  *error = 0;
  if (program < 0) {
    return Failed(ProgramCheck::kMissing, errno, "", {"", 0}, error, reason);
  }
  ProgramCheck check = JudgeFile(program, status, {"", 0}, error, reason);
  close(program);
  return check;
}
