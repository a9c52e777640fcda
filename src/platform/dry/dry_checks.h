// What each system's dry pieces (dry/posix, dry/win32) give the dry platform's journal
// (dry/journal.cpp), and what the journal gives them.
#pragma once

#include <cstdint>

#include "platform/dry/dry.h"

/// Whether a failed open with this last-error code fails the launcher's own open the same way,
/// whoever runs it and whenever: no such file or path, not a folder, a link or special file the
/// launcher refuses (each system's list is named where it is defined). A failed look-up with any
/// other error (permission, resource limits, I/O, network, sharing) says nothing about what is
/// there and leaves it unknown.
bool ErrorDecides(uint32_t code);
/// Whether the file at the platform path `path` is there to be read, as the settings reader reads
/// it; the reason says why it is absent or unknown.
Lookup LookUpFileToRead(const char* path, DryReason* reason);
/// Judges the program file at `applicationPath` by the loader's rules, on the file the real start
/// would open. When it would not start, sets *error to the last-error code the real start leaves
/// and `reason` to what the check found.
ProgramCheck CheckProgramFile(const char* applicationPath, uint32_t* error, DryReason* reason);

/// Notes an open of a text file, unless one in the same mode is noted already.
void NoteFileOpen(const char* path, TextFileMode mode, FileAccess access, const DryReason& reason);
/// Whether the run has emptied the file at `path` (opened it to create or empty it): what the
/// installer would write there is not known, so a read of it reads nothing.
bool RunEmptied(const char* path);
