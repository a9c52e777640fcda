// The staging check's lists, the same on every platform: findings and unknown items, each counted
// also past what the report holds, so that none is dropped silently.
#include "platform/staging.h"

void AddStagingFinding(StagingReport* report, const char* path, const char* hostPath,
                       const char* who, const char* how) {
  if (report->findingCount++ >= kMostStagingFindings) return;
  StagingFinding& finding = report->findings[report->findingCount - 1];
  CopyText(&finding.path, path);
  CopyText(&finding.hostPath, hostPath);
  CopyText(&finding.who, who != nullptr ? who : "");
  CopyText(&finding.how, how);
}

void AddStagingUnknown(StagingReport* report, const char* path, const char* hostPath,
                       const char* reason) {
  if (report->unknownCount++ >= kMostStagingUnknowns) return;
  StagingUnknown& unknown = report->unknowns[report->unknownCount - 1];
  CopyText(&unknown.path, path);
  CopyText(&unknown.hostPath, hostPath);
  CopyText(&unknown.reason, reason);
  CopyText(&unknown.summary, path[0] != '\0' ? path : hostPath);
  AppendText(&unknown.summary, ": ");
  AppendText(&unknown.summary, reason);
}
