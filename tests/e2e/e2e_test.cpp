// Runs every scenario through a real launcher binary: the Linux build in a temporary prefix, or
// the Windows build under wine in a temporary prefix of its own, and checks the run log's exact
// bytes, the emptied installer log, the patch-info file and the exit status. Before each run the
// preflight runs on the same bundle with the same command tail: it must change nothing, and its
// status, records and access of the run log and the patch-info file must agree with what the
// launcher then does.
//
//   e2e_test --leg=linux --launcher=PATH --installer=PATH --preflight=PATH [--wrapper="..."]
//   e2e_test --leg=wine|wow64|win32 --launcher=EXE --installer=EXE --preflight=EXE --reporter=EXE
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "harness.h"
#include "prediction.h"
#include "scenarios.h"

namespace {

using Json = nlohmann::json;

HarnessOptions options;
std::unique_ptr<Leg> leg;
const fs::path kDefaultFolder = "drive_c/hotfix/kb1";

// Whether a scenario meant for `legs` runs on this leg.
bool Runs(const Leg& on, Legs legs) {
  return legs != (on.IsWine() ? Legs::kLinuxOnly : Legs::kWindowsOnly);
}

// Lays the scenario's bundle, files and registry out on the leg.
void Prepare(const Scenario& scenario) {
  leg->MoveLauncherFolder(scenario.folder.empty() ? kDefaultFolder : fs::path(scenario.folder));
  leg->Reset();
  const fs::path root = leg->Root();
  const fs::path folder = leg->LauncherFolder();
  const fs::path runLog = root / "drive_c/QOR_Updates_InstallOS.log";
  if (scenario.runLogBefore == RunLogBefore::kEarlierRecord) {
    WriteFile(runLog, std::string(kEarlierRecord) + "\r\n");
  }
  if (scenario.runLogBefore == RunLogBefore::kFolder) fs::create_directories(runLog);
  WriteFile(root / "drive_c/tmp.log", "stale installer log\r\n");
  if (scenario.hasIni) WriteFile(folder / "Installer.ini", scenario.ini);
  if (scenario.installerPresent) {
    fs::path installer = folder / "kb1.exe";
    if (scenario.installerBytes.empty()) {
      fs::copy_file(options.installer, installer);
    } else {
      WriteFile(installer, scenario.installerBytes);
    }
    fs::permissions(installer,
                    scenario.installerExecutable ? fs::perms::owner_all : fs::perms::owner_read);
  }
  if (scenario.otherPrograms) {
    // A program beside the installer, and a copy of the preflight: neither is the launcher.
    fs::copy_file(options.installer, folder / "helper.exe");
    leg->PlacePreflight(true);
  }
  if (!scenario.installerLog.empty())
    WriteFile(folder / "installer-log.bin", scenario.installerLog);
  for (const std::string& made : scenario.folders) fs::create_directories(root / made);
  for (const auto& [path, target] : scenario.links) fs::create_symlink(target, root / path);
  if (!scenario.earlierPatchInfo.empty()) {
    WriteFile(root / scenario.patchInfoPath, scenario.earlierPatchInfo);
  }
  leg->WriteRegistry(scenario.registry, kNoRebootMarkers + scenario.systemRegistry);
  leg->PlaceLauncher(scenario.launcherOutside);
  leg->PlacePreflight(false);
}

class Scenarios : public ::testing::TestWithParam<Scenario> {};

TEST_P(Scenarios, PreflightPredictsRunLogPatchInfoAndExitStatus) {
  const Scenario& scenario = GetParam();
  if (!Runs(*leg, scenario.legs)) GTEST_SKIP() << "not on this platform";
  if (scenario.execFails && !options.wrapper.empty()) {
    GTEST_SKIP() << "valgrind ends the launcher's child when its execve fails";
  }
  Prepare(scenario);
  const fs::path root = leg->Root();

  std::vector<std::string> args = {"--json", leg->BundleArgument(), "--"};
  args.insert(args.end(), scenario.tail.begin(), scenario.tail.end());
  PreflightRun preflight = leg->RunPreflight({args});
  EXPECT_EQ(preflight.changes, "") << "the preflight changed these";
  Json report = Json::parse(preflight.output, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << preflight.output << preflight.errors;
  EXPECT_EQ(report["status"], preflight.status);
  // Every bundle is staged as a rollout stages it, but one whose launcher is a link out of it.
  EXPECT_EQ(report["staging"]["verdict"], scenario.launcherOutside ? "unsafe" : "safe")
      << report["staging"].dump(2);

  LaunchRequest request;
  request.tail = scenario.tail;
  request.windowsCommandLine = scenario.windowsCommandLine;
  PredictedFiles before = LookAtPredictedFiles(*leg, report);
  int status = leg->Run(request);

  int expectedStatus = options.leg == "linux" ? (scenario.status & 0xFF) : scenario.status;
  EXPECT_EQ(status, expectedStatus);
  std::string runLog = ReadFile(root / "drive_c/QOR_Updates_InstallOS.log");
  std::string expectedLog =
      (scenario.runLogBefore == RunLogBefore::kEarlierRecord ? std::string(kEarlierRecord) + "\n"
                                                             : "") +
      scenario.runLog;
  EXPECT_TRUE(std::regex_match(runLog, LogPattern(expectedLog, leg->LauncherDirectory())))
      << "run log:\n"
      << runLog << "\nexpected:\n"
      << expectedLog;
  ExpectPredicted(report, status, *leg, before);
  // A run log that takes no record shows no banner: that run starts its installer all the same.
  bool installerRan = scenario.runLogBefore == RunLogBefore::kFolder ||
                      (scenario.runLog.find("*******  Installing") != std::string::npos &&
                       scenario.runLog.find("Failed to create process") == std::string::npos);
  if (!installerRan) {
    EXPECT_EQ(ReadFile(root / "drive_c/tmp.log"),
              scenario.launcherOutside ? "stale installer log\r\n" : "")
        << "the installer log was not emptied, or emptied by a launcher that touches nothing";
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
  leg = MakeLeg(options, kDefaultFolder);
  if (leg == nullptr || options.preflight.empty()) {
    fprintf(stderr,
            "usage: e2e_test --leg=linux|wine|wow64|win32 --launcher=P --installer=P "
            "--preflight=P [--reporter=P]\n");
    return 2;
  }
  int result = RUN_ALL_TESTS();
  leg.reset();
  return result;
}
