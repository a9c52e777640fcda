// The preflight's report of a run, built from the marks of its steps over the dry platform: each
// record lands in its own step's section however many a step writes, and a run that does more than
// the preflight keeps is one it cannot tell. The test drives the steps as the run does (records,
// then the step's mark), one more record at a time in each step.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/dry/dry.h"
#include "platform/files.h"
#include "platform/run_steps.h"
#include "preflight/preflight.h"
#include "runlog/runlog.h"

namespace {

constexpr char kDirectory[] = "C:\\hotfix\\kb1\\";

// The step that gets one more record, by the message of its records; "" for none.
std::string extraStep;

// Writes a step's records, named after it, one more when it is the chosen one.
void Write(const std::string& step, int count) {
  if (step == extraStep) ++count;
  for (int i = 0; i < count; ++i) {
    WriteLogRecord("KB1", kDirectory, "setup", (step + " " + std::to_string(i)).c_str());
  }
}

// The step a passed check leads to, as the dry platform runs it after a check that does not
// pass: located, and a file that cannot be opened.
void RecordNowhere(const char*, const char*, const char*) {
  MarkRunStep({.step = RunStep::kPatchInfoLocated,
               .decided = static_cast<int>(PatchInfoLocation::kLocated),
               .path = "C:\\Srv\\server\\patchinfo"});
  Write("patch-info", 2);
  MarkRunStep({.step = RunStep::kPatchInfoRecorded, .decided = 0});
}

// A run whose installer does not start and whose check does not pass, or one whose installer ends
// with 5 and whose check passes.
void DriveRun(bool installed) {
  StartDryRun("C:\\hotfix\\kb1\\setup.exe");
  ForgetRecords();
  Write("settings", 0);
  MarkRunStep({.step = RunStep::kSettingsRead,
               .decided = 1,
               .directory = kDirectory,
               .name = "setup",
               .patchId = "KB1"});
  Write("banner", 3);
  MarkRunStep({.step = RunStep::kArgumentsAssembled, .decided = 1, .text = "/a", .length = 2});
  Write("start", installed ? 0 : 3);
  MarkRunStep({.step = RunStep::kInstallerStarted,
               .decided = installed,
               .path = "C:\\hotfix\\kb1\\kb1.exe",
               .text = "\"C:\\hotfix\\kb1\\kb1.exe\" /a"});
  if (installed) {
    Write("wait", 4);
    MarkRunStep({.step = RunStep::kWaitEnded, .exitCode = 5});
  }
  Write("check", installed ? 0 : 2);
  MarkRunStep({.step = RunStep::kCheckDecided,
               .decided = installed,
               .directory = kDirectory,
               .name = "setup",
               .patchId = "KB1",
               .passedStep = RecordNowhere});
  if (installed) {
    RecordNowhere(kDirectory, "setup", "KB1");
    return;
  }
  Write("merge", 0);
  MarkRunStep({.step = RunStep::kInstallerLogMerged});
}

// The messages of a section's records.
std::vector<std::string> Messages(const RecordList& list) {
  std::vector<std::string> messages;
  for (int i = 0; i < list.count; ++i) messages.push_back(list.records[i].message.text);
  return messages;
}

// The messages `count` records of `step` have, one more when it is the chosen one.
std::vector<std::string> Expected(std::vector<std::pair<std::string, int>> steps) {
  std::vector<std::string> messages;
  for (auto [step, count] : steps) {
    if (step == extraStep) ++count;
    for (int i = 0; i < count; ++i) messages.push_back(step + " " + std::to_string(i));
  }
  return messages;
}

TEST(ReportSteps, EachRecordLandsInItsOwnStepsSection) {
  for (bool installed : {false, true}) {
    for (const char* step :
         {"", "settings", "banner", "start", "wait", "check", "patch-info", "merge"}) {
      if (!installed && std::string(step) == "wait") continue;  // a start that fails has no wait
      extraStep = step;
      SCOPED_TRACE(std::string(installed ? "installed, " : "not installed, ") + "one more in " +
                   (step[0] != '\0' ? step : "none"));
      DriveRun(installed);
      auto report = std::make_unique<PreflightReport>();
      ReadRun(report.get());
      EXPECT_EQ(report->dropped, 0);
      EXPECT_TRUE(report->settingsLoaded);
      EXPECT_TRUE(report->argumentsFit);
      EXPECT_EQ(report->argumentsLength, 2);
      EXPECT_STREQ(report->installerPath.text, "C:\\hotfix\\kb1\\kb1.exe");
      EXPECT_EQ(report->installed, installed ? 1 : 0);
      EXPECT_EQ(report->patchInfo, PatchInfoLocation::kLocated);
      EXPECT_EQ(Messages(report->settingsRecords), Expected({{"settings", 0}}));
      EXPECT_EQ(Messages(report->installerRecords),
                Expected({{"start", installed ? 0 : 3}, {"wait", installed ? 4 : 0}}));
      EXPECT_EQ(Messages(report->checkRecords), Expected({{"check", installed ? 0 : 2}}));
      EXPECT_EQ(Messages(report->patchInfoRecords), Expected({{"patch-info", 2}}));
      EXPECT_EQ(Messages(report->runRecords), Expected({{"settings", 0},
                                                        {"banner", 3},
                                                        {"start", installed ? 0 : 3},
                                                        {"wait", installed ? 4 : 0}}));
    }
  }
  extraStep = "";
}

// More records, or more reads and opens, than the preflight keeps: the report cannot be trusted,
// and says so instead of dropping them without a word.
TEST(ReportSteps, ARunThatDoesMoreThanThePreflightKeepsCannotBeTold) {
  for (bool records : {true, false}) {
    StartDryRun("C:\\hotfix\\kb1\\setup.exe");
    ForgetRecords();
    if (records) {
      for (int i = 0; i <= kMostRecords; ++i) WriteLogRecord("KB1", kDirectory, "setup", "more");
    } else {
      for (int i = 0; i <= kMostDryEvents; ++i) {
        std::string path = "C:\\missing\\" + std::to_string(i);
        CloseTextFile(OpenTextFile(path.c_str(), TextFileMode::kRead));
      }
    }
    MarkRunStep({.step = RunStep::kSettingsRead, .decided = 0, .directory = kDirectory});
    auto report = std::make_unique<PreflightReport>();
    ReadRun(report.get());
    EXPECT_GT(report->dropped, 0) << records;
    EXPECT_NE(std::string(report->droppedReason.text).find("more than the preflight can follow"),
              std::string::npos);
    EXPECT_EQ(DecidePreflightStatus(*report), kPreflightCannotTell);
  }
}

}  // namespace
