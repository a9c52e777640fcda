// What a program of the project does first, before anything can load a library.
#pragma once

/// Keeps the DLLs loaded from now on to the system folder on Windows, so that none comes from the
/// program's folder or the current one; the Linux port loads nothing at run time.
void RestrictLibrarySearch();
