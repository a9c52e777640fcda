// Splitting and joining command lines: any arguments survive a join and a split, and a split of
// any line stays within the documented bounds.
#include <cstring>
#include <vector>

#include "common/command_line.h"
#include "fuzz_input.h"

namespace {

// Splits with exactly the capacities the documented bounds promise to suffice.
std::vector<std::string> Split(const std::string& line) {
  size_t length = line.size();
  std::vector<char*> arguments(length / 2 + 2);
  std::vector<char> text(length + 1);
  int count = SplitCommandLine(ExactCopy(line).get(), arguments.data(), arguments.size(),
                               text.data(), text.size());
  FUZZ_CHECK(count >= 1 && static_cast<size_t>(count) <= length / 2 + 1);
  FUZZ_CHECK(arguments[static_cast<size_t>(count)] == nullptr);
  std::vector<std::string> split;
  for (int i = 0; i < count; ++i) {
    char* argument = arguments[static_cast<size_t>(i)];
    FUZZ_CHECK(argument >= text.data() && argument < text.data() + text.size());
    split.emplace_back(argument);
  }
  return split;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input as one line, up to its first NUL.
  std::string line = FuzzInput{data, data + size}.Field();
  std::vector<std::string> split = Split(line);
  FUZZ_CHECK(Split(line) == split);

  // The input as arguments, one per NUL-ended field, behind a program name.
  std::vector<std::string> fields = {"p"};
  for (FuzzInput input{data, data + size}; input.at < input.end;) fields.push_back(input.Field());
  std::vector<std::unique_ptr<char[]>> copies;
  std::vector<const char*> argv;
  for (const std::string& field : fields)
    argv.push_back(copies.emplace_back(ExactCopy(field)).get());
  int argc = static_cast<int>(argv.size());
  size_t tailSize = CommandTailSize(argc, argv.data());
  std::vector<char> tail(tailSize, 'X');
  // One byte short is refused, leaving the tail empty.
  FUZZ_CHECK(JoinCommandTail(argc, argv.data(), tail.data(), tailSize - 1) == 0);
  FUZZ_CHECK(tailSize < 2 || tail[0] == '\0');
  FUZZ_CHECK(JoinCommandTail(argc, argv.data(), tail.data(), tailSize) == 1);
  FUZZ_CHECK(strlen(tail.data()) == tailSize - 1);
  FUZZ_CHECK(Split("p " + std::string(tail.data())) == fields);
  return 0;
}
