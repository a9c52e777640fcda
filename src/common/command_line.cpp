// Splitting and joining whole command lines by the Microsoft C runtime's rules, so that an
// installer started on Linux sees the arguments a Windows build of it would see, and a command
// tail made of separate arguments reaches the installer as they were given.
#include "common/command_line.h"

#include <cstring>

namespace {

// Where the split puts its results; every write is checked against the caller's capacities.
struct ArgumentWriter {
  char** arguments;
  size_t argumentCapacity;
  size_t count;
  char* text;
  size_t textCapacity;
  size_t used;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Starts the next argument, keeping a slot free for the closing nullptr.
int StartArgument(ArgumentWriter* writer) {
  if (writer->count + 1 >= writer->argumentCapacity) return 0;
  writer->arguments[writer->count++] = writer->text + writer->used;
  return 1;
}

int PutRun(ArgumentWriter* writer, char c, size_t times) {
  if (times > writer->textCapacity - writer->used) return 0;
  memset(writer->text + writer->used, c, times);
  writer->used += times;
  return 1;
}

int Put(ArgumentWriter* writer, char c) { return PutRun(writer, c, 1); }

// Appends `times` copies of `c` at out[*length] when `out` is given; always advances *length,
// so that one walk serves both for measuring and for writing.
void Emit(char* out, size_t* length, char c, size_t times) {
  for (size_t i = 0; i < times; ++i) {
    if (out != nullptr) out[*length] = c;
    ++*length;
  }
}

// Writes one argument as it must appear in a command line (when `out` is given) and returns its
// length. Backslashes only need doubling where a quote follows them, the closing quote included.
size_t FormArgument(const char* argument, char* out) {
  bool quoted = argument[0] == '\0' || strpbrk(argument, " \t\"") != nullptr;
  size_t length = 0;
  if (quoted) Emit(out, &length, '"', 1);
  const char* p = argument;
  for (;;) {
    size_t backslashes = strspn(p, "\\");
    p += backslashes;
    if (*p == '"') {
      Emit(out, &length, '\\', 2 * backslashes + 1);
      Emit(out, &length, '"', 1);
      ++p;
      continue;
    }
    Emit(out, &length, '\\', *p == '\0' && quoted ? 2 * backslashes : backslashes);
    if (*p == '\0') break;
    Emit(out, &length, *p++, 1);
  }
  if (quoted) Emit(out, &length, '"', 1);
  return length;
}

}  // namespace

int SplitCommandLine(const char* commandLine, char** arguments, size_t argumentCapacity, char* text,
                     size_t textCapacity) {
  ArgumentWriter writer = {arguments, argumentCapacity, 0, text, textCapacity, 0};
  const char* p = commandLine;

  // The program name: quotes only toggle, backslashes are plain characters.
  if (!StartArgument(&writer)) return -1;
  bool quoted = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (!quoted && IsBlank(*p)) {
      break;
    } else if (!Put(&writer, *p)) {
      return -1;
    }
  }
  if (!Put(&writer, '\0')) return -1;

  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    if (!StartArgument(&writer)) return -1;
    quoted = false;
    for (;;) {
      size_t backslashes = strspn(p, "\\");
      p += backslashes;
      if (*p == '"') {
        if (!PutRun(&writer, '\\', backslashes / 2)) return -1;
        bool escaped = backslashes % 2 == 1;
        if (escaped || (quoted && p[1] == '"')) {
          if (!Put(&writer, '"')) return -1;
          p += escaped ? 1 : 2;
        } else {
          quoted = !quoted;
          ++p;
        }
        continue;
      }
      if (!PutRun(&writer, '\\', backslashes)) return -1;
      if (*p == '\0' || (!quoted && IsBlank(*p))) break;
      if (!Put(&writer, *p++)) return -1;
    }
    if (!Put(&writer, '\0')) return -1;
  }
  arguments[writer.count] = nullptr;
  return static_cast<int>(writer.count);
}

size_t CommandTailSize(int argumentCount, const char* const* arguments) {
  size_t size = 1;
  for (int i = 1; i < argumentCount; ++i) {
    size += (i > 1 ? 1 : 0) + FormArgument(arguments[i], nullptr);
  }
  return size;
}

int JoinCommandTail(int argumentCount, const char* const* arguments, char* tail, size_t capacity) {
  if (CommandTailSize(argumentCount, arguments) > capacity) {
    if (capacity > 0) tail[0] = '\0';
    return 0;
  }
  size_t length = 0;
  for (int i = 1; i < argumentCount; ++i) {
    if (i > 1) tail[length++] = ' ';
    length += FormArgument(arguments[i], tail + length);
  }
  tail[length] = '\0';
  return 1;
}
