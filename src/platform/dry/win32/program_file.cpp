// The installer judged by the Windows loader's rules: the file opens for execution as
// CreateProcessA opens it, and begins with an MZ header whose PE header is an executable image
// (not a DLL) for a machine this Windows runs: i386 everywhere, amd64 on 64-bit Windows only. A
// refusal carries the last-error code CreateProcessA gives for it.
#include <windows.h>

#include <cstdio>

#include "platform/dry/dry_checks.h"

namespace {

constexpr size_t kDosHeaderBytes = 64;
constexpr size_t kNewHeaderOffsetAt = 0x3C;    // e_lfanew
constexpr size_t kPeHeaderBytes = 4 + 20 + 2;  // signature, file header, optional header magic
constexpr WORD kMachineI386 = 0x014C;
constexpr WORD kMachineAmd64 = 0x8664;
constexpr WORD kMagicPe32 = 0x010B;
constexpr WORD kMagicPe32Plus = 0x020B;
constexpr WORD kExecutableImage = 0x0002;
constexpr WORD kDll = 0x2000;

WORD WordAt(const unsigned char* at) { return static_cast<WORD>(at[0] | at[1] << 8); }

ProgramCheck Refuse(ProgramCheck check, DWORD code, const char* what, uint32_t* error,
                    DryReason* reason) {
  *error = code;
  CopyText(reason, what);
  return check;
}

bool ReadAt(HANDLE file, size_t offset, unsigned char* bytes, size_t count) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  DWORD read = 0;
  return ReadFile(file, bytes, static_cast<DWORD>(count), &read, &at) && read == count;
}

bool RunsAmd64() {
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

ProgramCheck CheckHeaders(HANDLE file, uint32_t* error, DryReason* reason) {
  unsigned char dos[kDosHeaderBytes];
  if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    return Refuse(ProgramCheck::kNotProgram, ERROR_BAD_EXE_FORMAT, "no MZ header", error, reason);
  }
  size_t at = dos[kNewHeaderOffsetAt] | dos[kNewHeaderOffsetAt + 1] << 8 |
              dos[kNewHeaderOffsetAt + 2] << 16 |
              static_cast<size_t>(dos[kNewHeaderOffsetAt + 3]) << 24;
  unsigned char pe[kPeHeaderBytes];
  if (!ReadAt(file, at, pe, sizeof pe) || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 ||
      pe[3] != 0) {
    return Refuse(ProgramCheck::kNotProgram, ERROR_BAD_EXE_FORMAT, "no PE header", error, reason);
  }
  WORD machine = WordAt(pe + 4);
  WORD characteristics = WordAt(pe + 4 + 18);
  WORD magic = WordAt(pe + 24);
  if ((characteristics & kExecutableImage) == 0 || (characteristics & kDll) != 0) {
    return Refuse(ProgramCheck::kNotProgram, ERROR_BAD_EXE_FORMAT,
                  "a PE file that is not a program (a DLL, or no executable image)", error, reason);
  }
  bool runs = (machine == kMachineI386 && magic == kMagicPe32) ||
              (machine == kMachineAmd64 && magic == kMagicPe32Plus && RunsAmd64());
  if (!runs) {
    char what[96];
    snprintf(what, sizeof what, "a program for machine 0x%04X, which this Windows does not run",
             machine);
    return Refuse(ProgramCheck::kNotProgram, ERROR_BAD_EXE_FORMAT, what, error, reason);
  }
  return ProgramCheck::kStarts;
}

}  // namespace

ProgramCheck CheckProgramFile(const char* applicationPath, uint32_t* error, DryReason* reason) {
  *error = 0;
  DWORD attributes = GetFileAttributesA(applicationPath);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Refuse(ProgramCheck::kNotRegular, ERROR_ACCESS_DENIED, "a folder", error, reason);
  }
  // As CreateProcessA opens the image: for reading and execution, sharing only reading and
  // deletion, so that a file another process is still writing does not start.
  HANDLE file =
      CreateFileA(applicationPath, GENERIC_READ | FILE_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    DescribeError(*error, reason);
    return ErrorDecides(*error) ? ProgramCheck::kMissing : ProgramCheck::kUnknown;
  }
  ProgramCheck check = GetFileType(file) == FILE_TYPE_DISK
                           ? CheckHeaders(file, error, reason)
                           : Refuse(ProgramCheck::kNotRegular, ERROR_ACCESS_DENIED,
                                    "not a disk file", error, reason);
  CloseHandle(file);
  return check;
}
