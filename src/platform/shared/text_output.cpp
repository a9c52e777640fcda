// The write side of the text files, the same on every platform but for the system's write call.
// Whole lines go out in large blocks, so that a long merge costs few writes; only a line longer
// than the whole large buffer goes out in pieces.
#include "platform/shared/text_output.h"

#include <cstring>

#include "platform/memory.h"

namespace {

constexpr size_t kLargeBufferSize = 1024 * 1024;

bool Enlarge(TextOutput* output) {
  if (output->large) return false;
  auto* large = static_cast<unsigned char*>(AllocateBuffer(kLargeBufferSize));
  if (large == nullptr) return false;
  memcpy(large, output->data, output->end);
  output->data = large;
  output->capacity = kLargeBufferSize;
  output->large = true;
  return true;
}

// Writes out the first `count` waiting bytes and keeps the rest; after a failure everything
// written to the file is dropped.
void WriteOut(TextFile* file, TextOutput* output, size_t count) {
  if (!output->failed && count > 0 && !WriteFileBytes(file, output->data, count)) {
    output->failed = true;
  }
  if (output->failed) count = output->end;
  memmove(output->data, output->data + count, output->end - count);
  output->end -= count;
}

void WriteWholeLines(TextFile* file, TextOutput* output) {
  size_t count = output->end;
  while (count > 0 && output->data[count - 1] != '\n') --count;
  WriteOut(file, output, count > 0 ? count : output->end);
}

}  // namespace

void StartTextOutput(TextOutput* output, unsigned char* small, size_t capacity) {
  *output = {small, 0, capacity, false, false};
}

void PutText(TextFile* file, TextOutput* output, const char* text) {
  size_t left = strlen(text);
  while (left > 0) {
    // A line feed needs room for its CR LF pair, which is never split between two writes.
    if (output->end + 2 > output->capacity && !Enlarge(output)) WriteWholeLines(file, output);
    if (*text == '\n') {
      output->data[output->end++] = '\r';
      output->data[output->end++] = '\n';
      ++text;
      --left;
      continue;
    }
    size_t run = output->capacity - output->end;
    if (run > left) run = left;
    if (const void* lineFeed = memchr(text, '\n', run)) {
      run = static_cast<size_t>(static_cast<const char*>(lineFeed) - text);
    }
    memcpy(output->data + output->end, text, run);
    output->end += run;
    text += run;
    left -= run;
  }
}

void EndTextOutput(TextFile* file, TextOutput* output) {
  WriteOut(file, output, output->end);
  if (output->large) ReleaseBuffer(output->data);
}
