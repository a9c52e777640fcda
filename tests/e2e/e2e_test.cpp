// Runs every scenario through a real launcher binary: the Linux build in a temporary prefix, or
// the Windows build under wine64 in a temporary prefix of its own, and checks the run log's exact
// bytes, the emptied installer log, the patch-info file and the exit status.
//
//   e2e_test --leg=linux --launcher=PATH --installer=PATH [--wrapper="valgrind ..."]
//   e2e_test --leg=wine --launcher=EXE --installer=EXE --reporter=EXE
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "harness.h"
#include "scenarios.h"

namespace {

HarnessOptions options;
std::unique_ptr<Leg> leg;

// Whether a scenario meant for `legs` runs on this leg.
bool Runs(const Leg& on, Legs legs) {
  return legs != (on.IsWine() ? Legs::kLinuxOnly : Legs::kWindowsOnly);
}

class Scenarios : public ::testing::TestWithParam<Scenario> {};

TEST_P(Scenarios, RunLogPatchInfoAndExitStatus) {
  const Scenario& scenario = GetParam();
  if (!Runs(*leg, scenario.legs)) GTEST_SKIP() << "not on this platform";
  leg->Reset();
  const fs::path root = leg->Root();
  WriteFile(root / "drive_c/QOR_Updates_InstallOS.log", std::string(kEarlierRecord) + "\r\n");
  WriteFile(root / "drive_c/tmp.log", "stale installer log\r\n");
  if (scenario.hasIni) WriteFile(leg->LauncherFolder() / "Installer.ini", scenario.ini);
  if (scenario.installerPresent) {
    fs::path installer = leg->LauncherFolder() / "kb1.exe";
    fs::copy_file(options.installer, installer);
    if (!scenario.installerExecutable) fs::permissions(installer, fs::perms::owner_read);
  }
  if (!scenario.installerLog.empty()) {
    WriteFile(leg->LauncherFolder() / "installer-log.bin", scenario.installerLog);
  }
  for (const std::string& folder : scenario.folders) fs::create_directories(root / folder);
  if (!scenario.earlierPatchInfo.empty()) {
    WriteFile(root / scenario.patchInfoPath, scenario.earlierPatchInfo);
  }
  leg->WriteRegistry(scenario.registry);

  LaunchRequest request;
  request.tail = scenario.tail;
  request.windowsCommandLine = scenario.windowsCommandLine;
  int status = leg->Run(request);

  int expectedStatus = options.leg == "linux" ? (scenario.status & 0xFF) : scenario.status;
  EXPECT_EQ(status, expectedStatus);
  std::string runLog = ReadFile(root / "drive_c/QOR_Updates_InstallOS.log");
  std::string expectedLog = std::string(kEarlierRecord) + "\n" + scenario.runLog;
  EXPECT_TRUE(std::regex_match(runLog, LogPattern(expectedLog, leg->LauncherDirectory())))
      << "run log:\n"
      << runLog << "\nexpected:\n"
      << expectedLog;
  bool installerRan = scenario.runLog.find("*******  Installing") != std::string::npos &&
                      scenario.runLog.find("Failed to create process") == std::string::npos;
  if (!installerRan) {
    EXPECT_EQ(ReadFile(root / "drive_c/tmp.log"), "") << "the installer log was not emptied";
  }
  if (!scenario.patchInfoPath.empty()) {
    EXPECT_EQ(ReadFile(root / scenario.patchInfoPath), scenario.patchInfo);
  }
}

INSTANTIATE_TEST_SUITE_P(All, Scenarios, ::testing::ValuesIn(AllScenarios()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  options = ParseHarnessOptions(argc, argv);
  leg = MakeLeg(options, "drive_c/hotfix/kb1");
  if (leg == nullptr) {
    fprintf(stderr, "usage: e2e_test --leg=linux|wine --launcher=P --installer=P [--reporter=P]\n");
    return 2;
  }
  int result = RUN_ALL_TESTS();
  leg.reset();
  return result;
}
