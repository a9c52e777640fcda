// How every file the Linux port reads or writes is opened: inside the prefix, links and ".."
// included, never blocking on the open, and used only when it is a regular file, so that a FIFO or
// a device planted at a fixed path is a file that cannot be opened rather than a wait without end
// or an endless stream.
#pragma once

#include <sys/stat.h>

#include <cstddef>

/// Opens the host path `path`, which lies below the prefix, with the open(2) `flags` (O_CREAT with
/// a default mode; O_NOFOLLOW refuses a link as the last component), resolving every link and ".."
/// as if the prefix were the root, without blocking, and keeps it only when it is a regular file;
/// the descriptor is close-on-exec, and its O_NONBLOCK, which changes nothing for a regular file's
/// reads and writes, stays. A file it creates is made readable and writable by its owner whatever
/// the umask. With O_PATH it only names the file, for a look at it. Fills *status when given.
/// Returns the descriptor, or -1 with errno set when the file cannot be opened (EISDIR for a
/// folder, ELOOP for a link O_PATH | O_NOFOLLOW opened, ENXIO for any other file that is not
/// regular).
int OpenRegularFile(const char* path, int flags, struct stat* status = nullptr);

/// Reads the regular file at the host path `path` (opened as OpenRegularFile does) whole into a
/// buffer from AllocateBuffer, with one NUL byte after the contents (release it with
/// ReleaseBuffer), and sets *size to the bytes read: a file cut while it is read is read as far as
/// it goes. Returns nullptr when the file cannot be opened or read, or memory runs out.
unsigned char* ReadRegularFile(const char* path, size_t* size);

/// Fills `resolved` with the host path that `path` (below the prefix) names once every link and
/// ".." on it is resolved inside the prefix, as OpenRegularFile resolves it; returns 1, or 0 with
/// errno set when it names nothing (or the result would not fit).
int ResolveInsidePrefix(const char* path, char* resolved, size_t capacity);

/// Opens the program file at the Windows path `applicationPath` as the installer's start opens it:
/// mapped and resolved inside the prefix as OpenRegularFile resolves a path, a link at the end
/// followed, but opened for neither reading nor writing (O_PATH), so that it needs no read
/// permission and never blocks. The start executes this very descriptor; a check that reads the
/// file's header can read it through /proc/self/fd. Fills *status when given. Returns the
/// close-on-exec descriptor of whatever is there, or -1 with errno set when nothing is.
int OpenProgramFile(const char* applicationPath, struct stat* status = nullptr);

/// Puts a link's `target` in the place of the path walked so far: `pending` (capacity bytes)
/// becomes the target, a "/" and what was left to walk from `at` on. Returns false when that would
/// not fit.
bool PutLinkTarget(const char* target, char* pending, size_t capacity, size_t at);

/// Closes the prefix's folder that every open resolves from (opened at the first open and kept),
/// so that the next open looks the prefix up again: for a prefix made anew at the same path.
void ForgetPrefixFolder();
