/* A hotfix installer that takes five seconds doing nothing, for the launcher's cost of waiting. */
#include <time.h>

int main(void) {
  struct timespec left = {5, 0};
  while (nanosleep(&left, &left) != 0) {
  }
  return 0;
}
