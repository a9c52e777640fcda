// "%d" reading against two references, and the installation check end to end on the fake
// platform: input = flags, type, expected value NUL key path NUL value name NUL value data.
#include <cerrno>
#include <cstring>

#include "check/check.h"
#include "fuzz_input.h"
#include "platform/fake/fake_platform.h"

namespace {

// The same "%d" rules with 64-bit arithmetic, reduced modulo 2^32 after every digit.
int ReferenceDecimal(const char* p, int32_t* number) {
  while (*p != '\0' && strchr(" \t\n\v\f\r", *p) != nullptr) ++p;
  int64_t sign = 1;
  if (*p == '+' || *p == '-') sign = *p++ == '-' ? -1 : 1;
  if (*p < '0' || *p > '9') return 0;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = (value * 10 + (*p - '0')) % 4294967296;
  *number = static_cast<int32_t>(static_cast<uint32_t>(sign * value));
  return 1;
}

void CheckReadDecimal(const char* text) {
  int32_t number = 0;
  int32_t expected = 0;
  int ok = ReadDecimal(text, &number);
  FUZZ_CHECK(ok == ReferenceDecimal(text, &expected) && (!ok || number == expected));
  // Where the C library's reading does not overflow, it agrees too.
  char* end = nullptr;
  errno = 0;
  long long wide = strtoll(text, &end, 10);
  if (end == text) FUZZ_CHECK(!ok);
  if (end != text && errno == 0) FUZZ_CHECK(ok && number == static_cast<int32_t>(wide));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t flags = data[0];
  uint32_t type = data[1];
  FuzzInput input{data + 2, data + size};
  std::string expectedValue = input.Field();
  std::string checkKey = input.Field();
  std::string valueName = input.Field();
  std::string stored = input.Rest();
  auto expected = ExactCopy(expectedValue);
  CheckReadDecimal(expected.get());

  ResetFake();
  FakePlatform& fake = Fake();
  bool keyThere = flags & 1;
  bool valueThere = keyThere && (flags & 2) && !stored.empty();
  if (keyThere) fake.registry[checkKey];
  if (keyThere && (flags & 2)) fake.registry[checkKey][valueName] = FakeValue{type, stored};
  fake.dataReadFails = flags & 4;
  fake.failAcquisitionAt = (flags >> 3) & 7;

  int installed = CheckInstalled("C:\\hotfix\\", "setup", ExactCopy(checkKey).get(),
                                 ExactCopy(valueName).get(), expected.get(), "KB1");
  int records = fake.acquired[static_cast<int>(FakeResource::kFile)];
  FUZZ_CHECK(installed == 0 || installed == 1);
  FUZZ_CHECK(fake.AllReleased());

  // A DWORD counts by its first byte; any other type when its text (up to its first NUL) holds
  // a character of the expected value.
  int matches = 0;
  if (valueThere && type == 4) {
    int32_t number = 0;
    matches = ReadDecimal(expected.get(), &number) && number == uint8_t(stored[0]);
  } else if (valueThere) {
    for (size_t i = 0; i < stored.size() && stored[i] != '\0' && !matches; ++i) {
      matches = expectedValue.find(stored[i]) != std::string::npos;
    }
  }
  if (fake.failAcquisitionAt != 0) {
    // An injected failure may cut the check or drop records, never turn it into a match.
    FUZZ_CHECK(installed <= matches && records <= 4);
    return 0;
  }
  int expectedRecords = !keyThere                           ? 2
                        : !valueThere || fake.dataReadFails ? 3
                        : matches                           ? 0
                        : type == 4                         ? 4
                                                            : 1;
  bool read = valueThere && !fake.dataReadFails;
  FUZZ_CHECK(installed == (read && matches));
  FUZZ_CHECK(records == expectedRecords);
  return 0;
}
