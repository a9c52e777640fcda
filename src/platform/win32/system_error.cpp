// The thread's last-error code with FormatMessageA's text for it, and whether the Windows
// Installer is running an installation.
#include <windows.h>

#include "platform/process.h"

namespace {

constexpr DWORD kSystemMessageFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

}  // namespace

InstallationActivity ReadInstallationActivity() {
  // The Windows Installer holds this mutex while it runs an installation; a mutex that exists but
  // may not be opened by this user is there all the same.
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute");
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return InstallationActivity::kRunning;
  }
  return GetLastError() == ERROR_ACCESS_DENIED ? InstallationActivity::kRunning
                                               : InstallationActivity::kNone;
}

uint32_t ReadLastError() { return GetLastError(); }

int FormatSystemMessage(uint32_t code, char** text) {
  char* buffer = nullptr;
  DWORD length = FormatMessageA(kSystemMessageFlags, nullptr, code, kUserDefaultLanguage,
                                reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0) return 0;
  *text = buffer;
  return static_cast<int>(length);
}

void ReleaseSystemMessage(char* text) { LocalFree(text); }
