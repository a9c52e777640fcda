// The preflight's prediction against the launcher's run: its status, records and access of the
// run log and the patch-info file.
#include "prediction.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

namespace {

using Json = nlohmann::json;

// The records a run log's text holds, as "who, where what message" (the time stamp left out);
// merged installer log lines, which have no stamp, are not records.
std::vector<std::string> RunRecords(const std::string& runLog) {
  static const std::regex stamped(R"(^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2} : (.*)$)");
  std::vector<std::string> records;
  size_t at = 0;
  while (at < runLog.size()) {
    size_t end = runLog.find("\r\n", at);
    if (end == std::string::npos) end = runLog.size();
    std::string line = runLog.substr(at, end - at);
    std::smatch match;
    if (std::regex_match(line, match, stamped)) records.push_back(match[1]);
    at = end + 2;
  }
  return records;
}

bool Holds(const std::vector<std::string>& records, const std::string& part) {
  for (const std::string& record : records) {
    if (record.find(part) != std::string::npos) return true;
  }
  return false;
}

FileState LookAt(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return {};
  return {true, ReadFile(path)};
}

// An access the report gives, or "" when it gives none (null: not known, or not reached).
std::string AccessOf(const Json& part) {
  return part.is_object() && part["access"].is_string() ? part["access"].get<std::string>() : "";
}

// What an open with this predicted access does to the file: appends to it, creates it, or
// leaves it as it was.
void ExpectAccess(const std::string& what, const std::string& access, const FileState& before,
                  const FileState& after) {
  bool appended = before.present && after.present && after.bytes.size() > before.bytes.size() &&
                  after.bytes.compare(0, before.bytes.size(), before.bytes) == 0;
  if (access == "opens") {
    EXPECT_TRUE(appended) << what << ": predicted to open, yet nothing was appended";
  } else if (access == "would be created") {
    EXPECT_TRUE(!before.present && after.present) << what << ": predicted to be created";
  } else {
    EXPECT_EQ(after, before) << what << ": predicted \"" << access << "\", yet it changed";
  }
}

// The records of a failed check, one of which each run whose check does not pass writes.
const char* const kCheckFailures[] = {"Failed RegOpenKeyEx", "Failed RegQueryValueEx",
                                      "Failed Read value", "Value in Registry is not",
                                      "wasnot fount in Registry"};

}  // namespace

PredictedFiles LookAtPredictedFiles(const Leg& leg, const Json& report) {
  PredictedFiles files;
  const Json& runLog = report["run_log"]["host_path"];
  if (runLog.is_string()) files.runLog = LookAt(leg.HostFile(runLog.get<std::string>()));
  const Json& patchInfo = report["patch_info"]["host_path"];
  if (patchInfo.is_string()) files.patchInfo = LookAt(leg.HostFile(patchInfo.get<std::string>()));
  return files;
}

void ExpectPredicted(const Json& report, int launcherStatus, const Leg& leg,
                     const PredictedFiles& before) {
  PredictedFiles after = LookAtPredictedFiles(leg, report);
  std::string access = AccessOf(report["run_log"]);
  ExpectAccess("the run log", access, before.runLog, after.runLog);
  // The records compare where the launcher could write them.
  bool logged = access == "opens" || access == "would be created";
  std::vector<std::string> written = RunRecords(
      after.runLog.bytes.substr(std::min(before.runLog.bytes.size(), after.runLog.bytes.size())));
  size_t next = 0;
  for (const Json& record : report["run_log"]["records"]) {
    if (!logged) break;
    std::string text =
        record["who"].get<std::string>() + ", " + record["where"].get<std::string>() + " " +
        record["what"].get<std::string>() + " " + record["message"].get<std::string>();
    while (next < written.size() && written[next] != text) ++next;
    EXPECT_LT(next, written.size()) << "predicted, not written: " << text;
    if (next < written.size()) ++next;
  }
  bool launched = Holds(written, "*******  Installing");
  bool startFailed = Holds(written, " Failed to create process");
  bool failurePredicted =
      report["installer"].is_object() && !report["installer"]["start_error_code"].is_null();
  switch (report["status"].get<int>()) {
    case 1:
      EXPECT_TRUE(!launched || startFailed) << "status 1, yet the installer started";
      break;
    case 2:
      EXPECT_EQ(launcherStatus, 0);
      break;
    case 4:   // unsafe: the records above are all a staging finding leaves to compare
    case 77:  // cannot tell
      break;
    case 0:
    case 3:
      if (logged) {
        EXPECT_TRUE(launched);
        EXPECT_EQ(startFailed, failurePredicted);
      }
      EXPECT_EQ(report["installer"]["command_line"].get<std::string>(),
                "\"" + report["installer"]["path"].get<std::string>() + "\" " +
                    report["installer"]["arguments"].get<std::string>());
      break;
    default:
      ADD_FAILURE() << "the preflight gave status " << report["status"];
  }

  // The patch-info step: where the launcher's check passed, it opens the file as predicted (the
  // prediction of a check that does not pass now says what a passed one would do).
  bool checkFailed = false;
  for (const char* failure : kCheckFailures) checkFailed = checkFailed || Holds(written, failure);
  bool reached = logged ? launcherStatus == 0 && !checkFailed
                        : report["check"].is_object() && report["check"]["installed"] == true;
  std::string patchInfo = AccessOf(report["patch_info"]);
  bool failedRecord = Holds(written, "Failed to open PatchInfo file");
  if (!reached) {
    EXPECT_FALSE(failedRecord) << "the patch-info step ran, yet the check did not pass";
    EXPECT_EQ(after.patchInfo, before.patchInfo) << "the patch-info file changed";
    return;
  }
  if (logged && !patchInfo.empty()) {
    EXPECT_EQ(failedRecord, patchInfo == "cannot be opened")
        << "the patch-info file was predicted to be \"" << patchInfo << "\"";
  }
  if (patchInfo == "opens" || patchInfo == "would be created" || patchInfo == "cannot be opened") {
    ExpectAccess("the patch-info file", patchInfo, before.patchInfo, after.patchInfo);
  }
}
