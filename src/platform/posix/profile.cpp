// Profile (INI) files on Linux: a reader for one key of one section that gives what
// GetPrivateProfileStringA gives on Windows for the same file.
//
// The file is read whole. A UTF-16LE file (BOM FF FE) is turned into code page 1252 by Windows'
// table (platform/posix/code_page_1252.h), one byte per UTF-16 unit: a unit that 1252 lacks, each
// half of a surrogate pair included, becomes '?'.
// Any other file is taken byte for byte, a UTF-8 BOM included, so that a header on line 1 after
// such a BOM is not seen, as on Windows. Lines end at LF, CR LF or a lone CR; blanks, tabs, CR and
// byte 26 around a line are dropped and empty lines skipped. A header is a line that starts with
// '[' and holds a ']': the name lies between the '[' and the last ']'. Any other line is a key: its
// name runs to the first '=' and its value follows it; without '=' the value is empty. There are
// no comments. Names match without regard to ASCII case and to blanks around them; only the first
// section of a name is searched and its first matching key wins; keys before any header form the
// section "". A value loses one pair of matching outer quotes (' or ") and ends at a NUL byte.
//
// A run asks for its settings one key at a time: the file last read is kept for the rest of the
// process, so that every key comes from the same version of the file and the file is not opened
// and read again for each one.
#include "platform/profile.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/posix/open_file.h"
#include "platform/posix/paths.h"
#include "platform/shared/profile_text.h"

namespace {

// The last profile file read, kept for the rest of the process: its host path and its text, from
// AllocateBuffer (nullptr while none is kept).
struct KeptProfile {
  char* path;
  unsigned char* text;
  size_t size;
};
KeptProfile kept = {nullptr, nullptr, 0};

}  // namespace

int ReadProfileFile(const char* section, const char* key, char* buffer, int capacity,
                    const char* path) {
  if (capacity <= 0) return 0;
  buffer[0] = '\0';
  char mapped[kMappedPathCapacity];
  if (!MapPlatformPath(path, mapped, sizeof mapped)) return 0;
  if (kept.path == nullptr || strcmp(kept.path, mapped) != 0) {
    size_t size = 0;
    unsigned char* contents = ReadRegularFile(mapped, &size);
    if (contents == nullptr) return 0;
    size = ToProfileText(contents, size);
    size_t pathSize = strlen(mapped) + 1;
    auto* keptPath = static_cast<char*>(AllocateBuffer(pathSize));
    if (keptPath == nullptr) {  // read this once without keeping it
      int copied = LookUpProfileText(contents, size, section, key, buffer, capacity);
      ReleaseBuffer(contents);
      return copied;
    }
    memcpy(keptPath, mapped, pathSize);
    ReleaseBuffer(kept.path);
    ReleaseBuffer(kept.text);
    kept = {keptPath, contents, size};
  }
  return LookUpProfileText(kept.text, kept.size, section, key, buffer, capacity);
}
