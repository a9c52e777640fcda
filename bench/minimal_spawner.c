/* The floor a launcher cannot go under: start a program with the given arguments, wait for it,
   and exit with its status. */
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t child;
  if (posix_spawn(&child, argv[1], NULL, NULL, argv + 1, environ) != 0) return 127;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return 126;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
