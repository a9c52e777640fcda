// Linux platform tests: points $HOTFIX_LAUNCHER_PREFIX at another folder for one scope and puts
// back what was there before, so that the test program's own prefix outlives the test. The opens
// look either prefix up afresh, as a new run would, even when a test makes it anew at one path.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/posix/open_file.h"

class ScopedPrefix {
 public:
  explicit ScopedPrefix(const std::string& prefix) {
    const char* saved = getenv(kVariable);
    hadPrefix_ = saved != nullptr;
    if (hadPrefix_) saved_ = saved;
    setenv(kVariable, prefix.c_str(), 1);
    ForgetPrefixFolder();
  }
  ~ScopedPrefix() {
    if (hadPrefix_) {
      setenv(kVariable, saved_.c_str(), 1);
    } else {
      unsetenv(kVariable);
    }
    ForgetPrefixFolder();
  }
  ScopedPrefix(const ScopedPrefix&) = delete;
  ScopedPrefix& operator=(const ScopedPrefix&) = delete;

  static constexpr const char* kVariable = "HOTFIX_LAUNCHER_PREFIX";

 private:
  bool hadPrefix_ = false;
  std::string saved_;
};
