// Merges the installer log under $HOTFIX_LAUNCHER_PREFIX into the run log there, once, as a run
// that fails its check does.
#include "runlog/runlog.h"

int main() {
  MergeInstallerLog();
  return 0;
}
