// The dry platform's journal, and its services that are the same on every system: the module
// path the preflight chose, the settings and registry reads noted as the platform makes them, the
// run's marks of its steps, and an installer's start that is judged and then ends at once with
// exit code 0, so that the run goes on to its installation check.
#include <cstring>

#include "platform/dry/dry_checks.h"
#include "platform/folders.h"
#include "platform/memory.h"
#include "platform/module_path.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shared/profile_text.h"

struct ChildProcess {
  int unused;
};

namespace {

// The one run the preflight makes: a single thread, which reads the journal once the run is over.
DryJournal journal;
FixedText<kHostPathCapacity> launcherPath;
// Whether the marks now made are those of the step the dry platform runs after the check.
bool probing = false;
// The settings text the reads are served from, when one is given.
const unsigned char* servedText = nullptr;
size_t servedSize = 0;

DryEvent* NoteEvent(DryEventKind kind, const char* path) {
  if (journal.count == kMostDryEvents) {
    ++journal.dropped;
    return nullptr;
  }
  DryEvent* event = &journal.events[journal.count++];
  *event = DryEvent{};
  event->kind = kind;
  CopyText(&event->path, path);
  return event;
}

}  // namespace

void StartDryRun(const char* path) {
  journal.count = 0;
  journal.markCount = 0;
  journal.dropped = 0;
  journal.start = DryStart{};
  CopyText(&launcherPath, path);
}

const DryJournal& DryRunJournal() { return journal; }

void ServeSettingsText(unsigned char* text, size_t size) {
  servedText = text;
  servedSize = text != nullptr ? ToProfileText(text, size) : 0;
}

void NoteFileOpen(const char* path, TextFileMode mode, FileAccess access, const DryReason& reason) {
  for (int i = 0; i < journal.count; ++i) {
    const DryEvent& event = journal.events[i];
    if (event.kind == DryEventKind::kFileOpen && event.mode == mode &&
        strcmp(event.path.text, path) == 0) {
      return;
    }
  }
  if (DryEvent* event = NoteEvent(DryEventKind::kFileOpen, path)) {
    event->mode = mode;
    event->access = access;
    if (access != FileAccess::kOpens && access != FileAccess::kWouldCreate) event->reason = reason;
  }
}

bool RunEmptied(const char* path) {
  for (int i = 0; i < journal.count; ++i) {
    const DryEvent& event = journal.events[i];
    if (event.kind == DryEventKind::kFileOpen && event.mode == TextFileMode::kCreateEmpty &&
        event.access != FileAccess::kCannotOpen && strcmp(event.path.text, path) == 0) {
      return true;
    }
  }
  return false;
}

void ReadModulePath(char* buffer, int capacity) {
  if (capacity <= 0) return;
  bool fits = strlen(launcherPath.text) < static_cast<size_t>(capacity);
  CopyBounded(buffer, static_cast<size_t>(capacity), fits ? launcherPath.text : "");
}

int ReadProfileString(const char* section, const char* key, char* buffer, int capacity,
                      const char* path) {
  bool served = servedText != nullptr;
  int copied = served ? LookUpProfileText(servedText, servedSize, section, key, buffer, capacity)
                      : ReadProfileFile(section, key, buffer, capacity, path);
  if (DryEvent* event = NoteEvent(DryEventKind::kSettingRead, path)) {
    CopyText(&event->key, key);
    CopyText(&event->value, buffer);
    // An empty value may be a missing key or a file that could not be read: only the file says.
    event->lookup = copied > 0 || served ? Lookup::kFound : LookUpFileToRead(path, &event->reason);
  }
  return copied;
}

RegistryKey* OpenMachineKey(const char* path, RegistryView view) {
  RegistryKey* key = OpenRegistryKey(path, view);
  uint32_t error = ReadLastError();
  if (DryEvent* event = NoteEvent(DryEventKind::kKeyOpen, path)) {
    event->view = view;
    event->lookup = key != nullptr        ? Lookup::kFound
                    : ErrorDecides(error) ? Lookup::kAbsent
                                          : Lookup::kUnknown;
    if (key == nullptr) {
      DryReason described;
      DescribeError(error, &described);
      CopyText(&event->reason, "HKLM\\");
      AppendText(&event->reason, path);
      AppendText(&event->reason, ": ");
      AppendText(&event->reason, described.text);
    }
  }
  return key;
}

void MarkRunStep(const RunStepMark& mark) {
  if (journal.markCount == kMostDryMarks) {
    ++journal.dropped;
  } else {
    DryMark& noted = journal.marks[journal.markCount++];
    noted = DryMark{};
    noted.step = mark.step;
    noted.probe = probing;
    noted.decided = mark.decided;
    noted.length = mark.length;
    noted.exitCode = mark.exitCode;
    noted.events = journal.count;
    CopyText(&noted.directory, mark.directory);
    CopyText(&noted.name, mark.name);
    CopyText(&noted.patchId, mark.patchId);
    CopyText(&noted.path, mark.path);
    CopyText(&noted.text, mark.text);
  }
  // Where the id would go is worth telling also when the run does not get there: the step a
  // passed check leads to runs now, through the run's own code, and only looks as every step here.
  if (mark.step == RunStep::kCheckDecided && !mark.decided && !probing &&
      mark.passedStep != nullptr) {
    probing = true;
    mark.passedStep(mark.directory, mark.name, mark.patchId);
    probing = false;
  }
}

ChildProcess* StartProcess(const char* applicationPath, const char*) {
  DryStart& start = journal.start;
  start.attempted = 1;
  start.check = CheckProgramFile(applicationPath, &start.error, &start.reason);
  // A program that could not be looked at is taken to start, as it would for whoever may look.
  bool starts = start.check == ProgramCheck::kStarts || start.check == ProgramCheck::kUnknown;
  return starts ? static_cast<ChildProcess*>(AllocateBuffer(sizeof(ChildProcess))) : nullptr;
}

void WaitForProcess(ChildProcess*, uint32_t) {}

int ReadExitCode(ChildProcess*, uint32_t* code) {
  *code = 0;
  return 1;
}

void CloseProcess(ChildProcess* child) { ReleaseBuffer(child); }
