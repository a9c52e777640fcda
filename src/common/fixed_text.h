// Fixed-capacity NUL-terminated texts: every field of the launcher is one of these, and copying
// or appending into it can never write past its capacity.
#pragma once

#include <cstddef>

/// Copies `from` into `to` (capacity bytes, NUL included); returns 1 when it fit whole, 0 when cut.
int CopyBounded(char* to, size_t capacity, const char* from);
/// Appends `from` to the text already in `to`; returns 1 when it fit whole, 0 when cut.
int AppendBounded(char* to, size_t capacity, const char* from);

template <size_t Capacity>
struct FixedText {
  static constexpr size_t kCapacity = Capacity;
  char text[Capacity] = {};
};

template <size_t Capacity>
int CopyText(FixedText<Capacity>* to, const char* from) {
  return CopyBounded(to->text, Capacity, from);
}

template <size_t Capacity>
int AppendText(FixedText<Capacity>* to, const char* from) {
  return AppendBounded(to->text, Capacity, from);
}
