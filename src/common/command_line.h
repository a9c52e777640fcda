// Whole command lines by the Microsoft C runtime's rules: splitting one into an argument vector
// (the Linux port starts the installer with it), and joining main's arguments back into such a line
// (the Linux launcher's command tail, and the preflight's tail after "--" on both builds).
#pragma once

#include <cstddef>

/// Splits `commandLine` into arguments as the Microsoft C runtime does. The first argument ends at
/// a blank or tab outside quotes, every quote in it toggles quoting and is dropped, and its
/// backslashes are literal. In the others, 2n backslashes before a quote give n backslashes and
/// the quote toggles quoting, 2n+1 give n backslashes and a literal quote, "" inside quotes gives a
/// literal quote, and other backslashes are literal; a line that ends inside quotes ends the last
/// argument. The texts go one after another into `text` (textCapacity bytes, each NUL-terminated),
/// pointers to them into `arguments` followed by a nullptr. A line of length L never gives more
/// than L / 2 + 1 arguments, nor more than L + 1 bytes of text, NULs included. Returns the number
/// of arguments, or -1 when either capacity is too small.
int SplitCommandLine(const char* commandLine, char** arguments, size_t argumentCapacity, char* text,
                     size_t textCapacity);

/// The bytes, NUL included, that JoinCommandTail writes for main's `argumentCount` and `arguments`.
size_t CommandTailSize(int argumentCount, const char* const* arguments);
/// Writes main's arguments after the program name into `tail`, joined by single blanks, each one
/// that is empty or holds a blank, tab or quote quoted so that SplitCommandLine gives it back
/// unchanged. Returns 1, or 0 with `tail` empty when it needs more than `capacity` bytes.
int JoinCommandTail(int argumentCount, const char* const* arguments, char* tail, size_t capacity);
