// The platform test program doubles as the child process of the process tests: started with a
// child mode in its environment, it does what the mode says and exits instead of running tests.
#pragma once

#include <cstdint>

#include "platform/process.h"

/// Starts this test program in `mode`: "exit:N" exits with N, "sleep:MS" sleeps and exits with 0,
/// "signal:N" raises signal N, "args:FILE" writes the arguments main got to FILE, one a line. The
/// command line is the program's path in quotes, then a blank and `tail` when it is not empty.
ChildProcess* StartTestChild(const char* mode, const char* tail);
/// Waits for the child to end (a minute at most), closes it and returns its exit code: kStillActive
/// when it did not end, and a test failure when the code could not be read.
uint32_t FinishTestChild(ChildProcess* child);
