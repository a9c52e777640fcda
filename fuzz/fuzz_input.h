// What every fuzz target shares: an input read as NUL-ended fields followed by raw bytes, an
// invariant check that aborts, so that libFuzzer keeps the input as a finding, and lead-byte rules.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#define FUZZ_CHECK(condition)                                                             \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      fprintf(stderr, "invariant broken: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
      abort();                                                                            \
    }                                                                                     \
  } while (0)

/// The two lead-byte rules the splitting functions are run under: single-byte, and code page 932.
inline bool NoLeadBytes(unsigned char) { return false; }
inline bool CodePage932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct FuzzInput {
  const uint8_t* at;
  const uint8_t* end;

  /// The bytes up to the next NUL (or the end of the input); steps past that NUL.
  std::string Field() {
    const uint8_t* start = at;
    while (at < end && *at != 0) ++at;
    std::string field(start, at);
    if (at < end) ++at;
    return field;
  }
  /// Everything not read yet, NULs included.
  std::string Rest() {
    std::string rest(at, end);
    at = end;
    return rest;
  }
};

/// `text` and its NUL in a heap block of exactly that size, so that AddressSanitizer catches a
/// read past the NUL (a std::string may have room to spare there).
inline std::unique_ptr<char[]> ExactCopy(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}
