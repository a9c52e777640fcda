// The process service on Linux: the installer is spawned directly, never through a shell, with
// the argument vector a Windows C runtime would make of its command line, from the very file its
// path led to inside the prefix (the descriptor of that open is what is executed), waited for on
// its SIGCHLD (blocked and taken with sigtimedwait, so no polling), and its end reported as an
// exit code. (The last-error code and its text are in system_error.cpp.)
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "common/command_line.h"
#include "platform/memory.h"
#include "platform/posix/open_file.h"

struct ChildProcess {
  pid_t pid;
  sigset_t callerMask;  // the signal mask before SIGCHLD was blocked, restored at the close
  bool reaped;          // the child's status was collected into exitCode
  uint32_t exitCode;
};

namespace {

// A child ended by signal N reports 128 + N, as shells do.
constexpr uint32_t kSignalExitBase = 128;

// One block holding the argument vector and its texts, released with ReleaseBuffer; nullptr when
// memory ran out.
char** SplitIntoVector(const char* commandLine) {
  size_t length = strlen(commandLine);
  // The bounds SplitCommandLine guarantees for a line of this length, so the split cannot fail.
  size_t pointerCount = length / 2 + 2;
  size_t textBytes = length + 1;
  char** vector = static_cast<char**>(AllocateBuffer(pointerCount * sizeof(char*) + textBytes));
  if (vector == nullptr) return nullptr;
  SplitCommandLine(commandLine, vector, pointerCount,
                   reinterpret_cast<char*>(vector + pointerCount), textBytes);
  return vector;
}

// Closes every descriptor above the standard streams but the two given.
void CloseAllBut(int one, int other) {
  int kept[2] = {one < other ? one : other, one < other ? other : one};
  unsigned from = STDERR_FILENO + 1;
  for (int fd : kept) {
    if (fd < static_cast<int>(from)) continue;
    if (fd > static_cast<int>(from)) close_range(from, static_cast<unsigned>(fd) - 1, 0);
    from = static_cast<unsigned>(fd) + 1;
  }
  close_range(from, ~0u, 0);
}

// Starts the program file open at `program` (a close-on-exec descriptor). Returns 0 with *pid
// set, or the reason the program could not be started. The child reports a failed exec (no
// execute permission, not a program) through a close-on-exec pipe, so a failed start is known
// here and never shows up as an exit code of the child.
int Spawn(int program, char* const* vector, pid_t* pid) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;
  // vfork spares copying the launcher's page tables; the child only makes system calls before it
  // execs or exits. Every signal stays blocked while the child shares the launcher's memory, so
  // that nothing runs in it before its dispositions are back to the defaults.
  sigset_t all;
  sigset_t launcherMask;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &launcherMask);
  pid_t child = vfork();
  if (child < 0) {
    int failure = errno;
    sigprocmask(SIG_SETMASK, &launcherMask, nullptr);
    close(report[0]);
    close(report[1]);
    return failure;
  }
  if (child == 0) {
    // Like a Windows child that inherits no handles, the installer keeps only the standard
    // streams; and it starts as a fresh process does, whatever the launcher inherited or set for
    // itself: every signal at its default disposition and none blocked.
    CloseAllBut(report[1], program);
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaultAction, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    fexecve(program, vector, environ);
    // A script's interpreter reads it as /dev/fd/N, which a close-on-exec descriptor does not
    // outlive (the kernel then refuses with ENOENT): only a script keeps the descriptor across.
    if (errno == ENOENT) {
      fcntl(program, F_SETFD, 0);
      fexecve(program, vector, environ);
    }
    int failure = errno;
    ssize_t written = write(report[1], &failure, sizeof failure);
    _exit(written == sizeof failure ? 127 : 126);
  }
  sigprocmask(SIG_SETMASK, &launcherMask, nullptr);
  close(report[1]);
  int failure = 0;
  ssize_t got;
  do {
    got = read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == sizeof failure) {
    waitpid(child, nullptr, 0);
    return failure;
  }
  *pid = child;
  return 0;
}

// True once the child has ended; its status stays for ReadExitCode to collect.
bool HasEnded(pid_t pid) {
  siginfo_t info;
  info.si_pid = 0;
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
         info.si_pid != 0;
}

timespec RemainingUntil(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  timespec remaining = {deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
  if (remaining.tv_nsec < 0) {
    remaining.tv_nsec += 1000000000;
    --remaining.tv_sec;
  }
  if (remaining.tv_sec < 0) remaining = {0, 0};
  return remaining;
}

}  // namespace

ChildProcess* StartProcess(const char* applicationPath, const char* commandLine) {
  // The file the Windows path leads to inside the prefix, links included, is opened once and that
  // descriptor is executed: no folder renamed or replaced by a link after the open can lead the
  // start to another file, let alone out of the prefix.
  int program = OpenProgramFile(applicationPath);
  if (program < 0) return nullptr;
  auto* child = static_cast<ChildProcess*>(AllocateBuffer(sizeof(ChildProcess)));
  char** vector = SplitIntoVector(commandLine);
  if (child == nullptr || vector == nullptr) {
    close(program);
    ReleaseBuffer(vector);
    ReleaseBuffer(child);
    errno = ENOMEM;
    return nullptr;
  }
  // SIGCHLD is blocked before the child exists, so that its end cannot slip past the wait.
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  sigprocmask(SIG_BLOCK, &childSignal, &child->callerMask);
  int failure = Spawn(program, vector, &child->pid);
  close(program);
  ReleaseBuffer(vector);
  if (failure != 0) {
    sigprocmask(SIG_SETMASK, &child->callerMask, nullptr);
    ReleaseBuffer(child);
    errno = failure;
    return nullptr;
  }
  return child;
}

void WaitForProcess(ChildProcess* child, uint32_t timeoutMs) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000;
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_nsec -= 1000000000;
    ++deadline.tv_sec;
  }
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  // Sleeps until a SIGCHLD is pending; one that came before the wait is still pending then.
  while (!HasEnded(child->pid)) {
    timespec remaining = RemainingUntil(deadline);
    if (sigtimedwait(&childSignal, nullptr, &remaining) < 0 && errno == EAGAIN) return;
  }
}

int ReadExitCode(ChildProcess* child, uint32_t* code) {
  if (!child->reaped) {
    int status = 0;
    pid_t ended = waitpid(child->pid, &status, WNOHANG);
    if (ended < 0) return 0;
    if (ended == 0) {
      *code = kStillActive;
      return 1;
    }
    child->reaped = true;
    child->exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                        : kSignalExitBase + static_cast<uint32_t>(WTERMSIG(status));
  }
  *code = child->exitCode;
  return 1;
}

void CloseProcess(ChildProcess* child) {
  sigprocmask(SIG_SETMASK, &child->callerMask, nullptr);
  ReleaseBuffer(child);
}
