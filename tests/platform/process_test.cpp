// The process service against the real system: this test program starts itself as the child and
// checks exit codes, the time-out, failed starts and how a command line reaches main's arguments.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/module_path.h"
#include "test_child.h"

namespace {

constexpr char kChildModeVariable[] = "HOTFIX_PROCESS_TEST_CHILD";
constexpr uint32_t kChildWaitMs = 60000;

// Writes main's arguments to a file once the test runner has them, then ends the child.
class ArgumentRecorder : public testing::Environment {
 public:
  explicit ArgumentRecorder(const char* file) : file_(file) {}
  void SetUp() override {
    FILE* out = std::fopen(file_.c_str(), "wb");
    if (out == nullptr) std::exit(2);
    for (const std::string& argument : testing::internal::GetArgvs()) {
      std::fprintf(out, "%s\n", argument.c_str());
    }
    std::exit(std::fclose(out) == 0 ? 0 : 2);
  }

 private:
  std::string file_;
};

bool TakeMode(const char* mode, const char* name, const char** value) {
  size_t length = std::strlen(name);
  if (std::strncmp(mode, name, length) != 0) return false;
  *value = mode + length;
  return true;
}

// Runs before main: a child does what its mode says instead of running the tests.
int ActAsChild() {
  const char* mode = std::getenv(kChildModeVariable);
  const char* value = nullptr;
  if (mode == nullptr || mode[0] == '\0') return 0;
  if (TakeMode(mode, "exit:", &value)) std::exit(std::atoi(value));
  if (TakeMode(mode, "sleep:", &value)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value)));
    std::exit(0);
  }
  if (TakeMode(mode, "signal:", &value)) {
    std::raise(std::atoi(value));
    std::exit(3);
  }
  if (TakeMode(mode, "args:", &value)) {
    // main's arguments are known only once the test runner starts; its report would only be noise.
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    testing::AddGlobalTestEnvironment(new ArgumentRecorder(value));
    return 1;
  }
  std::exit(4);
}

const int kActingAsChild = ActAsChild();

std::string ModulePath() {
  char path[1024];
  ReadModulePath(path, sizeof path);
  return path;
}

}  // namespace

ChildProcess* StartTestChild(const char* mode, const char* tail) {
  // On Linux putenv keeps this very buffer as the variable, so it must outlive the call.
  static char setting[2048];
  std::snprintf(setting, sizeof setting, "%s=%s", kChildModeVariable, mode);
  putenv(setting);
  std::string program = ModulePath();
  std::string commandLine = "\"" + program + "\"" + (tail[0] != '\0' ? " " : "") + tail;
  ChildProcess* child = StartProcess(program.c_str(), commandLine.c_str());
  std::snprintf(setting, sizeof setting, "%s=", kChildModeVariable);
  putenv(setting);
  return child;
}

uint32_t FinishTestChild(ChildProcess* child) {
  WaitForProcess(child, kChildWaitMs);
  uint32_t code = kStillActive;
  if (!ReadExitCode(child, &code)) ADD_FAILURE() << "the exit code could not be read";
  CloseProcess(child);
  return code;
}

namespace {

// The exit codes that both platforms carry whole.
TEST(ProcessTest, ReportsTheExitCode) {
  struct Case {
    const char* mode;
    uint32_t code;
  };
  for (const Case& c : {Case{"exit:0", 0}, Case{"exit:5", 5}, Case{"exit:255", 255}}) {
    ChildProcess* child = StartTestChild(c.mode, "");
    ASSERT_NE(child, nullptr) << c.mode;
    EXPECT_EQ(FinishTestChild(child), c.code) << c.mode;
  }
}

// Windows reports the full 32 bits of exit(-1); Linux keeps only the low 8.
TEST(ProcessTest, ReportsANegativeExitCodeAsThePlatformCarriesIt) {
  ChildProcess* child = StartTestChild("exit:-1", "");
  ASSERT_NE(child, nullptr);
  uint32_t code = FinishTestChild(child);
  EXPECT_TRUE(code == 0xFFFFFFFFu || code == 0xFFu) << code;
}

// A program that is not there fails to start, with a last-error code that has a message.
TEST(ProcessTest, MissingProgramFailsToStartWithAMessage) {
  std::string program = ModulePath();
  program.resize(program.find_last_of("/\\") + 1);
  program += "no-such-installer.exe";
  ChildProcess* child = StartProcess(program.c_str(), ("\"" + program + "\" /q").c_str());
  uint32_t error = ReadLastError();
  ASSERT_EQ(child, nullptr);
  char* text = nullptr;
  int length = FormatSystemMessage(error, &text);
  ASSERT_GT(length, 2) << error;
  std::string message(text, static_cast<size_t>(length));
  ReleaseSystemMessage(text);
  EXPECT_EQ(std::strlen(message.c_str()), message.size());
  EXPECT_EQ(message.substr(message.size() - 2), "\r\n");
}

// A wait that runs out returns on time and leaves the child running to its own end.
TEST(ProcessTest, ExpiredWaitReadsStillActiveAndLeavesTheChildRunning) {
  ChildProcess* child = StartTestChild("sleep:3000", "");
  ASSERT_NE(child, nullptr);
  auto start = std::chrono::steady_clock::now();
  WaitForProcess(child, 200);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  uint32_t code = 0;
  ASSERT_EQ(ReadExitCode(child, &code), 1);
  EXPECT_EQ(code, kStillActive);
  EXPECT_EQ(FinishTestChild(child), 0u);
}

// Quotes and backslashes reach main as the Microsoft C runtime splits them, the same on both
// platforms: on Linux it is the service's own split that is checked.
TEST(ProcessTest, CommandLineArrivesAsTheCRuntimeSplitsIt) {
  struct Case {
    const char* tail;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {R"(/norestart /log:"C:\Logs\KB 1.log")", {"/norestart", R"(/log:C:\Logs\KB 1.log)"}},
      {R"("a b c" d e)", {"a b c", "d", "e"}},
      {R"("ab\"c" "\\" d)", {R"(ab"c)", R"(\)", "d"}},
      {R"(a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
      {R"(a\\\"b a\\\\"b c" d)", {R"(a\"b)", R"(a\\b c)", "d"}},
      {R"("C:\Program Files\" /q)", {R"(C:\Program Files" /q)"}},
      {R"("C:\dir\\" /q a "")", {R"(C:\dir\)", "/q", "a", ""}},
      {"a\t\tb \"unterminated arg", {"a", "b", "unterminated arg"}},
  };
  std::filesystem::path file = std::filesystem::temp_directory_path() / "hotfix-process-args.txt";
  std::string mode = "args:" + file.string();
  for (const Case& c : cases) {
    std::filesystem::remove(file);
    ChildProcess* child = StartTestChild(mode.c_str(), c.tail);
    ASSERT_NE(child, nullptr) << c.tail;
    ASSERT_EQ(FinishTestChild(child), 0u) << c.tail;
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> received;
    for (std::string line; std::getline(in, line);) received.push_back(line);
    ASSERT_FALSE(received.empty()) << c.tail;
    EXPECT_EQ(received[0], ModulePath()) << c.tail;
    received.erase(received.begin());
    EXPECT_EQ(received, c.arguments) << c.tail;
  }
  std::filesystem::remove(file);
}

}  // namespace

// The executable's path comes whole or not at all: a cut one would name another folder.
TEST(ModulePathTest, APathThatDoesNotFitIsNone) {
  const std::string full = ModulePath();
  ASSERT_FALSE(full.empty());
  std::vector<char> exact(full.size() + 1, 'x');
  ReadModulePath(exact.data(), static_cast<int>(exact.size()));
  EXPECT_EQ(std::string(exact.data()), full);
  std::vector<char> short1(full.size(), 'x');
  ReadModulePath(short1.data(), static_cast<int>(short1.size()));
  EXPECT_EQ(std::string(short1.data()), "");
}
