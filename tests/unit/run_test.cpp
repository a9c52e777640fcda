// The core on the fake platform: what only a fake can produce (no heap buffer, a failed data
// read, a failed exit-code query, an installer that outlives the wait) and that every resource
// acquired is released whatever fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/check.h"
#include "driver/driver.h"
#include "platform/fake/fake_platform.h"
#include "runlog/runlog.h"
#include "settings/settings.h"

namespace {

constexpr char kStamp[] = "12/6/2005 9:5:7 : ";
const std::string kFixedHead = "/norestart /log:\"c:\\tmp.log\" ";
constexpr char kCheckKey[] = "SOFTWARE\\ExampleHotfix";

std::string Record(const std::string& who, const std::string& message) {
  return std::string(kStamp) + who + ", C:\\hotfix\\kb1\\ setup " + message + "\n";
}

std::string Banner(const std::string& arguments) {
  return std::string(kStamp) +
         "*********************   QOR: New OS Patch  *****************************,   \n" + kStamp +
         "*******  Installing, KB1 kb1.exe " + arguments + "\n" + kStamp +
         "************************************************************************,   \n";
}

// The run log as written so far.
std::string RunLogText() { return Fake().files[kRunLogPath]; }

class FakeRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    FakePlatform& fake = Fake();
    fake.settings = {{"AppName", "kb1.exe"},
                     {"DaziveID", "KB1"},
                     {"MicrosoftRegKey", kCheckKey},
                     {"RegKeyName", "Installed"},
                     {"RegKeyValue", "1"}};
    fake.files[kInstallerLogPath] = "old";
  }
  void Install() {
    Fake().registry[kCheckKey]["Installed"] = FakeValue{4, std::string("\1\0\0\0", 4)};
  }
  void ProgramPath(const std::string& path) {
    Fake().registry["SOFTWARE\\Qor\\SERVER"]["ProgramPath"] = FakeValue{1, path + '\0'};
  }
  void TearDown() override { EXPECT_TRUE(Fake().AllReleased()); }
};

TEST_F(FakeRun, OutcomesFollowTheLaunchResultWhenTheCheckFails) {
  struct Case {
    const char* what;
    bool startFails;
    bool exitCodeFails;
    uint32_t exitCode;
    int status;
    std::string records;
  } cases[] = {
      {"exit 0", false, false, 0, 0, ""},
      {"exit 5", false, false, 5, 5,
       Record("KB1", "C:\\hotfix\\kb1\\kb1.exe") +
           Record("KB1", "\"C:\\hotfix\\kb1\\kb1.exe\" " + kFixedHead) +
           Record("KB1", "Exit code = 5") +
           Record("KB1", "The system cannot find the file specified.\r\n")},
      {"still running", false, false, 259, 259,
       Record("KB1", "C:\\hotfix\\kb1\\kb1.exe") +
           Record("KB1", "\"C:\\hotfix\\kb1\\kb1.exe\" " + kFixedHead) +
           Record("KB1", "Exit code = 259") +
           Record("KB1", "The system cannot find the file specified.\r\n")},
      {"top bit set", false, false, 0xC0000005u, -1073741819,
       Record("KB1", "C:\\hotfix\\kb1\\kb1.exe") +
           Record("KB1", "\"C:\\hotfix\\kb1\\kb1.exe\" " + kFixedHead) +
           Record("KB1", "Exit code = -1073741819") +
           Record("KB1", "The system cannot find the file specified.\r\n")},
      {"exit code unreadable", false, true, 0, -1,
       Record("KB1", "C:\\hotfix\\kb1\\kb1.exe") +
           Record("KB1", "\"C:\\hotfix\\kb1\\kb1.exe\" " + kFixedHead) +
           Record("KB1", "Exit code = -1") +
           Record("KB1", "The system cannot find the file specified.\r\n")},
      {"not started", true, false, 0, -1,
       Record("KB1", "Failed to create process") + Record("KB1", "C:\\hotfix\\kb1\\kb1.exe") +
           Record("KB1", "\"C:\\hotfix\\kb1\\kb1.exe\" " + kFixedHead)},
  };
  for (const Case& c : cases) {
    SetUp();
    Fake().startFails = c.startFails;
    Fake().exitCodeFails = c.exitCodeFails;
    Fake().exitCode = c.exitCode;
    Fake().files[kInstallerLogPath] = "";
    EXPECT_EQ(RunInstall(""), c.status) << c.what;
    std::string notFound = Record("KB1", "Failed RegOpenKeyEx") + Record("KB1", kCheckKey);
    EXPECT_EQ(RunLogText(), Banner(kFixedHead) + c.records + notFound) << c.what;
    EXPECT_TRUE(Fake().AllReleased()) << c.what;
  }
}

// Each step the run reaches is marked once it has decided, with what it decided.
TEST_F(FakeRun, MarksEachStepItReachesWithWhatItDecided) {
  const std::string self = " 0 C:\\hotfix\\kb1\\setup KB1";
  const std::string passed = " 1 C:\\hotfix\\kb1\\setup KB1";
  struct Case {
    const char* what;
    const char* settingMissing;
    std::string tail;
    bool startFails;
    uint32_t exitCode;
    bool installed;
    const char* programPath;
    std::vector<std::string> marks;
  } cases[] = {
      {"settings missing", "MicrosoftRegKey", "", false, 0, false, nullptr, {"settings" + self}},
      {"arguments too long",
       nullptr,
       std::string(71, 't'),
       false,
       0,
       false,
       nullptr,
       {"settings" + passed, "arguments 0 100"}},
      {"not started",
       nullptr,
       "/x",
       true,
       0,
       false,
       nullptr,
       {"settings" + passed, "arguments 1 31", "started 0 C:\\hotfix\\kb1\\kb1.exe",
        "checked" + self, "merged"}},
      {"exit 5, installed",
       nullptr,
       "",
       false,
       5,
       true,
       "C:\\Srv",
       {"settings" + passed, "arguments 1 29", "started 1 C:\\hotfix\\kb1\\kb1.exe", "waited 5",
        "checked" + passed, "located 1 C:\\Srv\\server\\patchinfo", "recorded 1"}},
      {"installed, no ProgramPath",
       nullptr,
       "",
       false,
       0,
       true,
       nullptr,
       {"settings" + passed, "arguments 1 29", "started 1 C:\\hotfix\\kb1\\kb1.exe", "waited 0",
        "checked" + passed, "located 0 "}},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.settingMissing != nullptr) Fake().settings.erase(c.settingMissing);
    Fake().startFails = c.startFails;
    Fake().exitCode = c.exitCode;
    if (c.installed) Install();
    if (c.programPath != nullptr) ProgramPath(c.programPath);
    RunInstall(c.tail.c_str());
    EXPECT_EQ(Fake().marks, c.marks) << c.what;
  }
}

TEST_F(FakeRun, APassedCheckRecordsThePatchWhateverTheLaunchResult) {
  Install();
  ProgramPath("C:\\Srv");
  Fake().startFails = true;
  EXPECT_EQ(RunInstall("/x"), 0);
  EXPECT_EQ(Fake().files["C:\\Srv\\server\\patchinfo"], "KB1\n");
  EXPECT_EQ(Fake().started,
            "C:\\hotfix\\kb1\\kb1.exe|\"C:\\hotfix\\kb1\\kb1.exe\" " + kFixedHead + "/x");
}

TEST_F(FakeRun, NoHeapBufferMeansNoCheckRecordAndNoMerge) {
  Install();
  Fake().files[kInstallerLogPath] = "line\n";
  RegistryText value;
  Fake().failAcquisitionAt = 2;  // the key, then the buffer
  EXPECT_EQ(ReadRegistryText(kCheckKey, "Installed", &value), RegistryReadResult::kNoBuffer);
  EXPECT_TRUE(Fake().AllReleased());

  Fake().failAcquisitionAt = Fake().acquisitions + 1;  // the line buffer
  MergeInstallerLog();
  EXPECT_EQ(RunLogText(), "");
}

TEST_F(FakeRun, AFailedDataReadIsReportedAndReleasesTheKeyAndBuffer) {
  Install();
  Fake().dataReadFails = true;
  EXPECT_EQ(CheckInstalled("C:\\hotfix\\kb1\\", "setup", kCheckKey, "Installed", "1", "KB1"), 0);
  EXPECT_EQ(RunLogText(), Record("KB1", "Failed Read value Installed") + Record("KB1", kCheckKey) +
                              Record("KB1", "Installed"));
}

TEST_F(FakeRun, SettingsGateWritesOneRecordAndStopsTheRun) {
  const std::string tooLong100(100, 'n');
  struct Case {
    const char* key;
    std::string value;  // empty: the key is absent
    std::string record;
  } cases[] = {
      {"AppName", "", Record("N/A ", "AppName is missing from ini file.")},
      {"DaziveID", "", Record("N/A", "DaziveID is missing from ini file.")},
      {"MicrosoftRegKey", "", Record("KB1", "MicrosoftRegKey is missing from ini file.")},
      {"RegKeyName", "", Record("KB1", "RegKeyName is missing from ini file.")},
      {"RegKeyValue", "", Record("KB1", "RegKeyValue is missing from ini file.")},
      {"RegKeyName", tooLong100, Record("KB1", "RegKeyName is too long in ini file.")},
      {"RegKeyValue", std::string(52, 'v'), Record("KB1", "RegKeyValue is too long in ini file.")},
      {"RunParams", tooLong100, Record("KB1", "RunParams is too long in ini file.")},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.value.empty()) {
      Fake().settings.erase(c.key);
    } else {
      Fake().settings[c.key] = c.value;
    }
    EXPECT_EQ(RunInstall(""), -1) << c.key;
    EXPECT_EQ(RunLogText(), c.record) << c.key;
    EXPECT_EQ(Fake().files[kInstallerLogPath], "") << c.key;
    EXPECT_EQ(Fake().started, "") << c.key;
  }
}

TEST_F(FakeRun, ValuesThatJustFitAreTaken) {
  Fake().settings["RegKeyName"] = std::string(99, 'n');
  Fake().settings["RegKeyValue"] = std::string(51, '1');
  Fake().settings["RunParams"] = std::string(69, 'p');
  Fake().exitCode = 0;
  EXPECT_EQ(RunInstall(""), 0);
  EXPECT_EQ(Fake().started.substr(Fake().started.size() - 70), std::string(69, 'p') + " ");
}

// A launcher whose folder cannot be known, or is too long to name Installer.ini, reads no settings
// file: not one of an ancestor folder, cut from its own, nor one found by a bare file name.
TEST_F(FakeRun, AnUnknownOrLongFolderCountsAsAMissingSettingsFile) {
  for (const std::string& modulePath : {
           "C:\\" + std::string(246, 'd') + "\\setup.exe",  // no room for Installer.ini
           "C:\\" + std::string(254, 'd') + "\\s",          // the folder cut to 255 characters
           "C:\\" + std::string(300, 'd') + "\\setup.exe",  // the module path does not fit
           std::string(),                                   // no module path at all
       }) {
    Fake().files.erase(kRunLogPath);
    Fake().modulePath = modulePath;
    EXPECT_EQ(RunInstall(""), -1);
    EXPECT_NE(RunLogText().find("AppName is missing from ini file."), std::string::npos);
  }
}

TEST_F(FakeRun, ArgumentsTooLongAreRefusedInsteadOfTheBanner) {
  EXPECT_EQ(RunInstall(std::string(71, 't').c_str()), -1);
  EXPECT_EQ(RunLogText(), Record("KB1", "Installer arguments are too long."));
  EXPECT_EQ(Fake().started, "");
}

TEST_F(FakeRun, PatchInfoPathTooLongIsReportedNotCut) {
  Install();
  const std::string folder = "C:\\" + std::string(240, 'p');  // 243 + \server\ + patchinfo > 259
  ProgramPath(folder);
  EXPECT_EQ(RunInstall(""), 0);
  std::string cut = (folder + "\\server\\patchinfo").substr(0, 259);
  EXPECT_EQ(RunLogText(), Banner(kFixedHead) + Record("KB1", "Failed to open PatchInfo file") +
                              Record("KB1", cut));
  for (const auto& file : Fake().files) EXPECT_EQ(file.first.find("patchinf"), std::string::npos);
}

// Fails each acquisition of a whole run in turn, until a run goes through untouched: every run
// ends with a documented status and with everything released.
TEST_F(FakeRun, EveryAcquisitionCanFailAndAllIsReleased) {
  for (bool installed : {false, true}) {
    for (int failAt = 1;; ++failAt) {
      SetUp();
      if (installed) Install();
      ProgramPath("C:\\Srv");
      Fake().registry["SOFTWARE\\Qor\\SERVER\\DICT_FILES\\$scsi0$sysDict"]["PATCHFILENAME"] =
          FakeValue{1, std::string("x\0", 2)};
      Fake().exitCode = 7;
      Fake().files[kInstallerLogPath] = "installer line\n";
      Fake().failAcquisitionAt = failAt;
      int status = RunInstall("");
      EXPECT_TRUE(status == 0 || status == 7 || status == -1) << failAt << " " << status;
      EXPECT_TRUE(Fake().AllReleased()) << "failing acquisition " << failAt;
      if (Fake().acquisitions < failAt) break;
    }
  }
}

}  // namespace
