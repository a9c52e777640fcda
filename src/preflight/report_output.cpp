// The report's output functions, and the standard output as one.
#include "preflight/report_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

void WriteToStandardOutput(const char* bytes, size_t count, void*) {
  fwrite(bytes, 1, count, stdout);
}

}  // namespace

ReportOutput StandardOutput() { return {WriteToStandardOutput, nullptr}; }

void PutBytes(const ReportOutput& out, const char* bytes, size_t count) {
  out.write(bytes, count, out.context);
}

void PutText(const ReportOutput& out, const char* text) { PutBytes(out, text, strlen(text)); }

void PutFormatted(const ReportOutput& out, const char* format, ...) {
  char text[4096];
  va_list arguments;
  va_start(arguments, format);
  int length = vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  PutBytes(
      out, text,
      static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1);
}
