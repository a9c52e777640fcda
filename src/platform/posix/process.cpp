// The process service on Linux: the installer is spawned directly, never through a shell, with
// the argument vector a Windows C runtime would make of its command line, waited for through a
// process descriptor (Linux 5.3 or later), and its end reported as an exit code.
#include "platform/process.h"

#include <errno.h>
#include <poll.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "platform/memory.h"
#include "platform/posix/command_line.h"
#include "platform/posix/paths.h"

struct ChildProcess {
  pid_t pid;
  int pidfd;    // readable once the child has ended; -1 when none could be had
  bool reaped;  // the child's status was collected into exitCode
  uint32_t exitCode;
};

namespace {

// Through syscall: the wrapper's header in glibc 2.36 lacks C linkage for C++.
int OpenProcessDescriptor(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

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

// Returns 0 with *pid set, or the reason the program could not be started. glibc's posix_spawn
// reports a failed exec (missing file, no execute permission, not a program) as its result, so
// a failed start is known here and never shows up as an exit code of the child.
int Spawn(const char* program, char* const* vector, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  int result = posix_spawn_file_actions_init(&actions);
  if (result != 0) return result;
  // Like a Windows child that inherits no handles, the installer keeps only the standard streams.
  result = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  if (result == 0) result = posix_spawn(pid, program, &actions, nullptr, vector, environ);
  posix_spawn_file_actions_destroy(&actions);
  return result;
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
  char program[kMappedPathCapacity];
  if (!MapPlatformPath(applicationPath, program, sizeof program)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  auto* child = static_cast<ChildProcess*>(AllocateBuffer(sizeof(ChildProcess)));
  char** vector = SplitIntoVector(commandLine);
  if (child == nullptr || vector == nullptr) {
    ReleaseBuffer(vector);
    ReleaseBuffer(child);
    errno = ENOMEM;
    return nullptr;
  }
  // A descriptor for ourselves proves the kernel has process descriptors and holds a descriptor
  // slot, freed just before the child's is opened: so that, once an installer runs, the
  // descriptor to wait on it cannot fail for want of either.
  int reserved = OpenProcessDescriptor(getpid());
  int failure = reserved < 0 ? errno : Spawn(program, vector, &child->pid);
  if (reserved >= 0) close(reserved);
  ReleaseBuffer(vector);
  if (failure != 0) {
    ReleaseBuffer(child);
    errno = failure;
    return nullptr;
  }
  child->pidfd = OpenProcessDescriptor(child->pid);
  return child;
}

void WaitForProcess(ChildProcess* child, uint32_t timeoutMs) {
  // Without a descriptor there is nothing to block on; returning at once makes the caller read
  // the still-active status, as after an expired wait, rather than block past the time-out.
  if (child->pidfd < 0) return;
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000;
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_nsec -= 1000000000;
    ++deadline.tv_sec;
  }
  pollfd ended = {child->pidfd, POLLIN, 0};
  for (;;) {
    timespec remaining = RemainingUntil(deadline);
    if (ppoll(&ended, 1, &remaining, nullptr) >= 0 || errno != EINTR) return;
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
  if (child->pidfd >= 0) close(child->pidfd);
  ReleaseBuffer(child);
}

uint32_t ReadLastError() { return static_cast<uint32_t>(errno); }

int FormatSystemMessage(uint32_t code, char** text) {
  // errno 0 records no error, and codes the C library has no description for get no text, as
  // Windows gives none for codes it does not know. The text is the untranslated one.
  const char* description =
      code == 0 || code > INT_MAX ? nullptr : strerrordesc_np(static_cast<int>(code));
  if (description == nullptr) return 0;
  size_t length = strlen(description);
  auto* message = static_cast<char*>(AllocateBuffer(length + 3));
  if (message == nullptr) return 0;
  memcpy(message, description, length);
  memcpy(message + length, "\r\n", 3);
  *text = message;
  return static_cast<int>(length + 2);
}

void ReleaseSystemMessage(char* text) { ReleaseBuffer(text); }
