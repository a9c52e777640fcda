// Linux only: the Microsoft C runtime's command-line split and its inverse, and what the process
// service does with Linux's own ways for a start to fail and a child to end.
#include "common/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/module_path.h"
#include "platform/posix/paths.h"
#include "platform/process.h"
#include "scoped_prefix.h"
#include "test_child.h"

namespace {

// The arguments of `line`, or {"<overflow>"} when the split reports its capacities too small.
std::vector<std::string> Split(const std::string& line, size_t argumentCapacity = 64,
                               size_t textCapacity = 256) {
  std::vector<char*> arguments(argumentCapacity);
  std::vector<char> text(textCapacity);
  int count =
      SplitCommandLine(line.c_str(), arguments.data(), argumentCapacity, text.data(), textCapacity);
  if (count < 0) return {"<overflow>"};
  EXPECT_EQ(arguments[static_cast<size_t>(count)], nullptr);
  return std::vector<std::string>(arguments.begin(), arguments.begin() + count);
}

struct SplitCase {
  const char* line;
  std::vector<std::string> arguments;
};

// Every argv[1..] row observed from the Microsoft C runtimes under Wine.
TEST(CommandLineTest, SplitsArgumentsAsTheCRuntime) {
  const SplitCase cases[] = {
      {R"(p "a b c" d e)", {"a b c", "d", "e"}},
      {R"(p "ab\"c" "\\" d)", {R"(ab"c)", R"(\)", "d"}},
      {R"(p a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
      {R"(p a\\\"b c d)", {R"(a\"b)", "c", "d"}},
      {R"(p a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
      {R"(p a"b"" c d)", {R"(ab" c d)"}},
      {R"(p "a""b" c)", {R"(a"b)", "c"}},
      {R"(p a""b c)", {"ab", "c"}},
      {R"(p "" x)", {"", "x"}},
      {R"(p a "")", {"a", ""}},
      {R"(p a ")", {"a", ""}},
      {R"(p """" x)", {R"(")", "x"}},
      {R"(p """""" x)", {R"("")", "x"}},
      {R"(p """a b""" c)", {R"("a b")", "c"}},
      {R"(p \"a\" b)", {R"("a")", "b"}},
      {R"(p "a\" b" c)", {R"(a" b)", "c"}},
      {R"(p "C:\Program Files\" /q)", {R"(C:\Program Files" /q)"}},
      {R"(p "C:\dir\\" /q)", {R"(C:\dir\)", "/q"}},
      {R"(p a\ b\\ c)", {R"(a\)", R"(b\\)", "c"}},
      {"p a\tb  \t c", {"a", "b", "c"}},
      {R"(p "unterminated arg)", {"unterminated arg"}},
      {"p   ", {}},
      {R"(p ^"a^" b)", {"^a^", "b"}},
      {R"(p "a b"c"d e" f)", {"a bcd e", "f"}},
      {R"(p "a\\" b)", {R"(a\)", "b"}},
  };
  for (const SplitCase& c : cases) {
    std::vector<std::string> arguments = Split(c.line);
    ASSERT_FALSE(arguments.empty()) << c.line;
    EXPECT_EQ(arguments[0], "p") << c.line;
    EXPECT_EQ(std::vector<std::string>(arguments.begin() + 1, arguments.end()), c.arguments)
        << c.line;
  }
}

// The program name: quotes toggle and vanish, backslashes stay, even before a quote.
TEST(CommandLineTest, SplitsTheProgramNameByItsOwnRule) {
  const SplitCase cases[] = {
      {R"("C:\a b\x.exe" arg)", {R"(C:\a b\x.exe)", "arg"}},
      {R"("C:\a b"\x.exe arg)", {R"(C:\a b\x.exe)", "arg"}},
      {R"(C:\a"b c"d.exe e)", {R"(C:\ab cd.exe)", "e"}},
      {R"(x\"y z" w)", {R"(x\y z)", "w"}},
      {R"(C:\dir\\"x y" z)", {R"(C:\dir\\x y)", "z"}},
      {"  p a", {"", "p", "a"}},
      {R"("" a)", {"", "a"}},
      {"", {""}},
  };
  for (const SplitCase& c : cases) EXPECT_EQ(Split(c.line), c.arguments) << c.line;
}

// The documented bounds are exact: the densest lines fill them, one less overflows.
TEST(CommandLineTest, SplitNeedsNoMoreThanItsBounds) {
  // 7 bytes: at most 7 / 2 + 1 arguments (and a nullptr), 7 + 1 bytes of text.
  EXPECT_EQ(Split("a b c d", 5, 8), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(Split("a b c d", 4, 8), std::vector<std::string>{"<overflow>"});
  EXPECT_EQ(Split("a b c d", 5, 7), std::vector<std::string>{"<overflow>"});
  EXPECT_EQ(Split("abcdefg", 2, 8), std::vector<std::string>{"abcdefg"});
  EXPECT_EQ(Split("abcdefg", 2, 7), std::vector<std::string>{"<overflow>"});
  EXPECT_EQ(Split("", 0, 1), std::vector<std::string>{"<overflow>"});
}

std::string Join(const std::vector<const char*>& arguments) {
  int count = static_cast<int>(arguments.size());
  size_t size = CommandTailSize(count, arguments.data());
  std::vector<char> tail(size);
  EXPECT_EQ(JoinCommandTail(count, arguments.data(), tail.data(), size), 1);
  EXPECT_EQ(std::string(tail.data()).size() + 1, size);
  EXPECT_EQ(JoinCommandTail(count, arguments.data(), tail.data(), size - 1), 0);
  EXPECT_EQ(tail[0], '\0');
  JoinCommandTail(count, arguments.data(), tail.data(), size);
  return tail.data();
}

// Arguments are quoted only when they must be, and backslashes doubled only before a quote.
TEST(CommandLineTest, JoinsArgumentsQuotingOnlyWhatNeedsIt) {
  EXPECT_EQ(Join({"launcher"}), "");
  EXPECT_EQ(Join({"launcher", "/q", R"(C:\dir\)"}), R"(/q C:\dir\)");
  EXPECT_EQ(Join({"launcher", "", "a b", "a\tb"}), "\"\" \"a b\" \"a\tb\"");
  EXPECT_EQ(Join({"launcher", R"(a"b)", R"(a\"b)", R"(C:\Program Files\)"}),
            R"("a\"b" "a\\\"b" "C:\Program Files\\")");
}

// Whatever main got, splitting the joined tail gives it back.
TEST(CommandLineTest, JoinedTailSplitsBackIntoTheSameArguments) {
  std::vector<const char*> arguments = {"launcher",
                                        "",
                                        " ",
                                        "a b",
                                        "\t",
                                        R"(")",
                                        R"("")",
                                        R"(\")",
                                        R"(\\)",
                                        R"(a\\"b)",
                                        R"(a\ b\)",
                                        R"(C:\x y\\)",
                                        R"(/log:"C:\l g")",
                                        "p^q",
                                        R"(x"y z\)",
                                        R"(\\\)",
                                        "tab\tend\\"};
  std::string line = "p " + Join(arguments);
  std::vector<std::string> split = Split(line, 64, 1024);
  ASSERT_EQ(split.size(), arguments.size()) << line;
  for (size_t i = 1; i < arguments.size(); ++i) EXPECT_EQ(split[i], arguments[i]) << line;
}

std::filesystem::path ScratchDirectory() {
  std::filesystem::path directory = std::filesystem::current_path() / "command_line_test_files";
  std::filesystem::create_directories(directory);
  return directory;
}

void WriteProgramFile(const std::filesystem::path& file, const char* text, mode_t mode) {
  FILE* out = std::fopen(file.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs(text, out);
  std::fclose(out);
  chmod(file.c_str(), mode);
}

// Linux's reasons for a program not to start are failed starts, known before the start returns.
TEST(CommandLineTest, UnstartableProgramsFailToStart) {
  std::filesystem::path directory = ScratchDirectory();
  WriteProgramFile(directory / "not-executable", "plain text\n", 0644);
  WriteProgramFile(directory / "not-a-program", "plain text\n", 0755);
  WriteProgramFile(directory / "no-interpreter", "#!/no/such/interpreter\n", 0755);
  struct Case {
    std::string program;
    int error;
  };
  // Named as Windows paths from the current folder, the root of drive C.
  const Case cases[] = {{"command_line_test_files\\missing", ENOENT},
                        {"command_line_test_files\\not-executable", EACCES},
                        {"command_line_test_files\\not-a-program", ENOEXEC},
                        {"command_line_test_files\\no-interpreter", ENOENT},
                        {"command_line_test_files", EACCES}};
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(StartProcess(c.program.c_str(), ("\"" + c.program + "\"").c_str()), nullptr)
        << c.program;
    EXPECT_EQ(ReadLastError(), static_cast<uint32_t>(c.error)) << c.program;
  }
  std::filesystem::remove_all(directory);
}

// A "#!" script starts as any program does, with its arguments: its interpreter reads it by the
// descriptor that the start keeps open across the exec for a script alone.
TEST(CommandLineTest, StartsAScript) {
  std::filesystem::path directory = ScratchDirectory();
  WriteProgramFile(directory / "script", "#!/bin/sh\n[ \"$1\" = /q ] && exit 7\n", 0755);
  ChildProcess* child =
      StartProcess(R"(command_line_test_files\script)", R"("command_line_test_files\script" /q)");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(FinishTestChild(child), 7u);
  std::filesystem::remove_all(directory);
}

// A drive path reaches the program under the prefix, blanks and backslashes included.
TEST(CommandLineTest, StartsAProgramNamedByADrivePath) {
  std::filesystem::path prefix = ScratchDirectory();
  std::filesystem::create_directories(prefix / "drive_c" / "Hot Fix");
  char self[1024];
  char hostSelf[kMappedPathCapacity];
  ReadModulePath(self, sizeof self);
  ASSERT_TRUE(MapPlatformPath(self, hostSelf, sizeof hostSelf));
  std::filesystem::copy_file(hostSelf, prefix / "drive_c" / "Hot Fix" / "setup.exe");
  ChildProcess* child = nullptr;
  {
    ScopedPrefix scoped(prefix.string());
    setenv("HOTFIX_PROCESS_TEST_CHILD", "exit:3", 1);
    child = StartProcess(R"(C:\Hot Fix\setup.exe)", R"("C:\Hot Fix\setup.exe" /q)");
    unsetenv("HOTFIX_PROCESS_TEST_CHILD");
  }
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(FinishTestChild(child), 3u);
  std::filesystem::remove_all(prefix);
}

// A child ended by a signal reports 128 plus the signal's number, as shells do.
TEST(CommandLineTest, ChildKilledBySignalReports128PlusTheSignal) {
  ChildProcess* child = StartTestChild("signal:9", "");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(FinishTestChild(child), 128u + 9u);
}

// The child gets the standard streams only, and outlives the record that started it.
TEST(CommandLineTest, ChildInheritsNoDescriptorAndOutlivesItsRecord) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);  // deliberately without close-on-exec
  ChildProcess* child = StartTestChild("sleep:1000", "");
  close(ends[1]);
  ASSERT_NE(child, nullptr);
  pollfd reader = {ends[0], POLLIN, 0};
  EXPECT_EQ(poll(&reader, 1, 0), 1);  // hung up: the child holds no copy of the write end
  EXPECT_TRUE(reader.revents & POLLHUP);
  close(ends[0]);

  WaitForProcess(child, 200);
  CloseProcess(child);
  siginfo_t ended = {};
  ASSERT_EQ(waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT), 0);
  EXPECT_EQ(ended.si_pid, 0);  // no child has ended yet
  int status = 0;
  pid_t reaped = waitpid(-1, &status, 0);
  ASSERT_GT(reaped, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// errno 0 and codes the C library does not know have no message; others end in CR LF.
TEST(CommandLineTest, SystemMessagesFollowErrno) {
  char* text = nullptr;
  EXPECT_EQ(FormatSystemMessage(0, &text), 0);
  EXPECT_EQ(FormatSystemMessage(99999, &text), 0);
  EXPECT_EQ(text, nullptr);
  int length = FormatSystemMessage(ENOENT, &text);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, static_cast<size_t>(length)), "No such file or directory\r\n");
  ReleaseSystemMessage(text);
  errno = 0;
  EXPECT_EQ(ReadLastError(), 0u);
}

}  // namespace
