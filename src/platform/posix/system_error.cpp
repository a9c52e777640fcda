// The thread's last-error code on Linux, which is errno, with the C library's text for it; and the
// Windows Installer's activity, which the port does not have.
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/memory.h"
#include "platform/process.h"

InstallationActivity ReadInstallationActivity() { return InstallationActivity::kNotChecked; }

uint32_t ReadLastError() { return static_cast<uint32_t>(errno); }

int FormatSystemMessage(uint32_t code, char** text) {
  // errno 0 records no error, and codes the C library has no description for get no text, as
  // Windows gives none for codes it does not know. The text is the untranslated one.
  const char* description =
      code == 0 || code > INT_MAX ? nullptr : strerrordesc_np(static_cast<int>(code));
  if (description == nullptr) return 0;
  size_t length = strlen(description);
  auto* message = static_cast<char*>(AllocateBuffer(length + 3));
  if (message == nullptr) return 0;
  memcpy(message, description, length);
  memcpy(message + length, "\r\n", 3);
  *text = message;
  return static_cast<int>(length + 2);
}

void ReleaseSystemMessage(char* text) { ReleaseBuffer(text); }
