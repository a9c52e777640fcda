// Start-up on Linux: the port's programs load no library after they start, so nothing is kept
// from doing so.
#include "platform/startup.h"

void RestrictLibrarySearch() {}
