// The profile reader's parser, apart from any file, so that it can be driven from bytes in memory:
// the Linux port's reader of Installer.ini and the preflight's settings given as text share it.
#pragma once

#include <cstddef>

/// Turns a profile file's raw bytes into the text the parser searches, in place: a UTF-16LE file
/// (byte-order mark FF FE) becomes ANSI code page text, one byte per UTF-16 unit (AnsiOfUtf16);
/// any other is taken byte for byte. Returns the text's size.
size_t ToProfileText(unsigned char* contents, size_t size);
/// Looks up `key` of `section` in a text from ToProfileText with ReadProfileString's rules: fills
/// `buffer` (always NUL-terminated, empty when the section or key is absent) and returns the
/// characters copied, at most capacity - 1; nothing is written when capacity is not positive.
int LookUpProfileText(const unsigned char* text, size_t size, const char* section, const char* key,
                      char* buffer, int capacity);
/// Both in one: turns `contents` (`size` raw bytes, rewritten in place) into text and looks up
/// `key` of `section` in it.
int ReadProfileText(unsigned char* contents, size_t size, const char* section, const char* key,
                    char* buffer, int capacity);
