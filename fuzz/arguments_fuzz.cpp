// The installer's arguments and command line: input = extra switches NUL command tail NUL
// launcher directory NUL installer name. Each result is the whole concatenation when it fits,
// else 0 with the text cut at its capacity.
#include <cstring>

#include "driver/driver.h"
#include "fuzz_input.h"
#include "launch/launch.h"
#include "runlog/runlog.h"

namespace {

// A cut result is the start of the whole text, as long as the field holds.
void CheckFit(int whole, const char* text, const std::string& expected, size_t capacity) {
  FUZZ_CHECK(whole == (expected.size() <= capacity - 1 ? 1 : 0));
  FUZZ_CHECK(strnlen(text, capacity) <= capacity - 1);
  FUZZ_CHECK(expected.compare(0, strlen(text), text) == 0);
  if (whole) FUZZ_CHECK(text == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input{data, data + size};
  std::string extra = input.Field();
  std::string commandTail = input.Field();
  std::string directory = input.Field();
  std::string installerName = input.Field();

  InstallerArguments arguments;
  int length = 0;
  int whole = AssembleInstallerArguments(ExactCopy(extra).get(), ExactCopy(commandTail).get(),
                                         &arguments, &length);
  std::string expected = std::string(kInstallerArgumentsHead) + kInstallerLogPath + "\" " + extra +
                         (extra.empty() ? "" : " ") + commandTail;
  CheckFit(whole, arguments.text, expected, InstallerArguments::kCapacity);
  FUZZ_CHECK(static_cast<size_t>(length) == expected.size());
  if (!whole) FUZZ_CHECK(strlen(arguments.text) == InstallerArguments::kCapacity - 1);

  LaunchText path;
  LaunchText commandLine;
  whole = ComposeInstallerCommand(ExactCopy(directory).get(), ExactCopy(installerName).get(),
                                  arguments.text, &path, &commandLine);
  std::string expectedPath = directory + installerName;
  std::string expectedLine = "\"" + expectedPath + "\" " + arguments.text;
  bool pathFits = expectedPath.size() <= LaunchText::kCapacity - 1;
  CheckFit(pathFits, path.text, expectedPath, LaunchText::kCapacity);
  CheckFit(whole, commandLine.text, expectedLine, LaunchText::kCapacity);
  if (!pathFits) FUZZ_CHECK(whole == 0);
  return 0;
}
