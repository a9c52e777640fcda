/* Runs one program (searched for on the PATH when its name has no slash) and reports on
   descriptor 3 "<wall ns> <cpu ns> <max rss KiB> <status>". Small and static on purpose: a
   child's peak resident set counts the memory of the process it was started from, so starting
   every measured program from here keeps that floor low and the same for all of them. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static long long Nanoseconds(struct timespec t) { return t.tv_sec * 1000000000LL + t.tv_nsec; }

static long long TimevalNanoseconds(struct timeval t) {
  return t.tv_sec * 1000000000LL + t.tv_usec * 1000LL;
}

int main(int argc, char** argv) {
  if (argc < 2 || fcntl(3, F_SETFD, FD_CLOEXEC) != 0) return 2;
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child;
  if (posix_spawnp(&child, argv[1], NULL, NULL, argv + 1, environ) != 0) return 127;
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) return 126;
  clock_gettime(CLOCK_MONOTONIC, &end);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  dprintf(3, "%lld %lld %ld %d\n", Nanoseconds(end) - Nanoseconds(start),
          TimevalNanoseconds(usage.ru_utime) + TimevalNanoseconds(usage.ru_stime), usage.ru_maxrss,
          code);
  return 0;
}
