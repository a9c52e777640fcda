// The dry platform: the platform the preflight runs the launcher's own run over, in place of the
// real one's services that act. A text file is only probed (one that is there is opened without
// write access; nothing is created, emptied or written) or, to read, read for real; the
// installer's start is judged by the loader's rules on the file the real start would open, and
// its process ends at once with exit code 0; the module path is the launcher the preflight chose.
// The settings file and the registry are read for real, and what the run met is kept in a journal,
// with the marks the run makes of its steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/fixed_text.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/run_steps.h"

inline constexpr int kMostDryEvents = 48;
inline constexpr int kMostDryMarks = 12;
inline constexpr int kDryPathCapacity = 1024;

using DryReason = ErrorText;

/// What a look-up met: the file or key is there, it is not, or it could not be looked at (an error
/// that depends on who looks or when: access denied, no descriptor or memory left, an I/O,
/// network or sharing error), which says nothing about whether it is there.
enum class Lookup { kFound, kAbsent, kUnknown };

/// What an open of a text file would do.
enum class FileAccess {
  kOpens,        // it is there and opens in that mode
  kWouldCreate,  // it is not there, and the mode would create it
  kCannotOpen,   // the open would fail
  kUnknown,      // it could not be looked at
};

enum class DryEventKind { kSettingRead, kKeyOpen, kFileOpen };

/// One read or open of the run, in the order the run made them; a file's open in a mode it was
/// already opened in is kept once.
struct DryEvent {
  DryEventKind kind;
  FixedText<kDryPathCapacity> path;  // the settings file, the key or the text file
  FixedText<32> key;                 // a setting: its key
  FixedText<260> value;              // a setting: the value read, empty when missing
  TextFileMode mode;                 // a file: the mode of the open
  RegistryView view;                 // a key: the view it was opened in
  Lookup lookup;                     // a setting: its file's; a key: its own
  FileAccess access;                 // a file
  DryReason reason;                  // why a key or file is absent, cannot be opened or unknown
};

/// What the loader would make of the installer.
enum class ProgramCheck {
  kStarts,         // a program this system starts
  kMissing,        // nothing there, or its folder is missing
  kNotRegular,     // a folder or a device
  kNotExecutable,  // this user may not execute it (Linux)
  kNotProgram,     // no header of a program this system runs (the reason says which)
  kUnknown,        // it could not be looked at
};

/// One mark of the run's steps, as the run made it (see RunStepMark); the events noted before it
/// belong to it and to the steps before it, and the records written since the mark before it are
/// its step's.
struct DryMark {
  RunStep step;
  int probe;  // made by a step the dry platform ran after a check the run does not go past
  int decided;
  int length;
  uint32_t exitCode;
  int events;  // the journal's events noted before it
  FixedText<260> directory;
  FixedText<256> name;
  FixedText<260> patchId;
  FixedText<kDryPathCapacity> path;
  FixedText<kDryPathCapacity> text;
};

/// The loader's judgement of the run's one start of the installer (the start's mark has its path
/// and command line).
struct DryStart {
  int attempted;  // whether the run got to the start
  ProgramCheck check;
  uint32_t error;    // the last-error code the real start would leave when it fails
  DryReason reason;  // what the check found, when the program does not start
};

struct DryJournal {
  int count;
  DryEvent events[kMostDryEvents];
  int markCount;
  DryMark marks[kMostDryMarks];
  DryStart start;
  int dropped;  // events and marks past what the journal holds, which it could not keep
};

/// Empties the journal and makes `launcherPath` the running program's path for the run to come;
/// ReadModulePath gives it whole or, when it does not fit the caller's buffer, empty, as the
/// system does. A check that does not pass is followed by the step a passed check leads to, run by
/// the dry platform as a probe of where the patch id would go: its marks say so, and like every
/// step here it writes nothing.
void StartDryRun(const char* launcherPath);
/// What the run met so far.
const DryJournal& DryRunJournal();
/// From now on the run's settings reads look their keys up in `text` (`size` bytes of a profile
/// file, turned into its text in place as the profile reader turns a file) with the profile
/// reader's own parser, instead of in the file they name; nullptr reads the files again.
void ServeSettingsText(unsigned char* text, size_t size);
