// Where the preflight's report goes: a function that takes its bytes, so that the report is
// written the same way to the standard output and, in the tests, into memory.
#pragma once

#include <cstddef>

struct ReportOutput {
  void (*write)(const char* bytes, size_t count, void* context);
  void* context;
};

/// The process's standard output.
ReportOutput StandardOutput();
void PutBytes(const ReportOutput& out, const char* bytes, size_t count);
void PutText(const ReportOutput& out, const char* text);
/// Writes what snprintf makes of `format`, cut at 4095 bytes.
void PutFormatted(const ReportOutput& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
