// The system's text for a last-error code, as the reports give it: the same on every platform
// over its own FormatSystemMessage.
#include <cstdio>

#include "platform/process.h"

void DescribeError(uint32_t code, ErrorText* reason) {
  char number[32];
  snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(code));
  char* text = nullptr;
  int length = FormatSystemMessage(code, &text);
  CopyText(reason, "");
  if (length > 0) {
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
    text[length] = '\0';
    AppendText(reason, text);
    AppendText(reason, " (");
    AppendText(reason, number);
    AppendText(reason, ")");
    ReleaseSystemMessage(text);
  } else {
    AppendText(reason, number);
  }
}
