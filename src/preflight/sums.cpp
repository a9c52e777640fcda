// The SHA256SUMS list parsed once and set against the bundle's files, the same on every platform.
#include "preflight/sums.h"

#include <cstdio>
#include <cstring>

namespace {

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const char* a, const char* b, bool ignoreCase) {
  if (!ignoreCase) return strcmp(a, b) == 0;
  for (; *a != '\0' && FoldCase(*a) == FoldCase(*b); ++a, ++b) {
  }
  return *a == '\0' && *b == '\0';
}

// Whether every "/"-separated part of `name` is a name of its own: none empty, "." or "..".
bool StaysInside(const char* name) {
  for (const char* part = name;;) {
    size_t length = strcspn(part, "/");
    if (length == 0 || (length == 1 && part[0] == '.') ||
        (length == 2 && part[0] == '.' && part[1] == '.')) {
      return false;
    }
    if (part[length] == '\0') return true;
    part += length + 1;
  }
}

// Decodes the name of one line into `entry`; returns what is wrong, or nullptr.
const char* ReadName(const unsigned char* at, const unsigned char* end, bool escaped,
                     bool windowsNames, SumsEntry* entry) {
  char name[kStagingNameCapacity];
  size_t length = 0;
  for (; at < end; ++at) {
    unsigned char c = *at;
    if (c == '\0') return "a NUL byte in the name";
    if (escaped && c == '\\') {
      if (++at == end) return "a name that ends in a lone backslash";
      c = *at == '\\' ? '\\' : *at == 'n' ? '\n' : *at == 'r' ? '\r' : 0;
      if (c == 0) return "an escape other than \\\\, \\n or \\r in the name";
    }
    if (c == '\\' && windowsNames) c = '/';
    if (length + 1 == sizeof name) return "a name too long for the check";
    name[length++] = static_cast<char>(c);
  }
  name[length] = '\0';
  const char* relative = name;
  while (relative[0] == '.' && relative[1] == '/') relative += 2;
  if (relative[0] == '\0') return "no file name";
  if (!StaysInside(relative) || (windowsNames && strchr(relative, ':') != nullptr)) {
    return "a name that is not a path inside the bundle's folder";
  }
  CopyText(&entry->name, relative);
  return nullptr;
}

// Parses one line that is not blank; returns what is wrong, or nullptr.
const char* ParseLine(const unsigned char* at, const unsigned char* end, bool windowsNames,
                      SumsEntry* entry) {
  bool escaped = *at == '\\';
  if (escaped) ++at;
  if (end - at < 2 * kSha256Bytes + 3) return "not \"<SHA-256 in hex> <blank or *><name>\"";
  for (int i = 0; i < kSha256Bytes; ++i) {
    int high = HexDigit(at[2 * i]);
    int low = HexDigit(at[2 * i + 1]);
    if (high < 0 || low < 0) return "a SHA-256 that is not 64 hex digits";
    entry->sha256[i] = static_cast<unsigned char>(high << 4 | low);
  }
  at += 2 * kSha256Bytes;
  if (at[0] != ' ' || (at[1] != ' ' && at[1] != '*')) {
    return "not \"<SHA-256 in hex> <blank or *><name>\"";
  }
  return ReadName(at + 2, end, escaped, windowsNames, entry);
}

void Fail(StagingNote* problem, int line, const char* what) {
  snprintf(problem->text, sizeof problem->text, "line %d: %s", line, what);
}

}  // namespace

bool ParseSums(const unsigned char* bytes, size_t size, SumsList* list, StagingNote* problem) {
  list->count = 0;
  bool windowsNames = StagingNamesFollowWindows();
  const unsigned char* end = bytes + size;
  int line = 0;
  for (const unsigned char* at = bytes; at < end;) {
    ++line;
    const unsigned char* lineEnd = at;
    while (lineEnd < end && *lineEnd != '\n') ++lineEnd;
    const unsigned char* next = lineEnd < end ? lineEnd + 1 : lineEnd;
    if (lineEnd > at && lineEnd[-1] == '\r') --lineEnd;
    const unsigned char* text = at;
    at = next;
    while (text < lineEnd && (*text == ' ' || *text == '\t')) ++text;
    if (text == lineEnd) continue;
    if (list->count == kMostBundleFiles) {
      char what[64];
      snprintf(what, sizeof what, "more than %d files listed", kMostBundleFiles);
      Fail(problem, line, what);
      return false;
    }
    SumsEntry& entry = list->entries[list->count];
    if (const char* wrong = ParseLine(text, lineEnd, windowsNames, &entry)) {
      Fail(problem, line, wrong);
      return false;
    }
    for (int i = 0; i < list->count; ++i) {
      if (SameName(list->entries[i].name.text, entry.name.text, windowsNames)) {
        Fail(problem, line, "a name listed twice");
        return false;
      }
    }
    ++list->count;
  }
  return true;
}

void CompareSums(const SumsList& list, const char* folder, StagingReport* report) {
  bool ignoreCase = StagingNamesFollowWindows();
  StagingPath path;
  StagingPath hostPath;
  auto add = [&](const char* name, const char* how) {
    ShowBundleName(folder, name, &path, &hostPath);
    AddStagingFinding(report, path.text, hostPath.text, nullptr, how);
  };
  for (int i = 0; i < list.count; ++i) {
    const SumsEntry& entry = list.entries[i];
    const BundleFile* found = nullptr;
    for (int j = 0; j < report->bundleFileCount && found == nullptr; ++j) {
      if (SameName(report->bundleFiles[j].name.text, entry.name.text, ignoreCase)) {
        found = &report->bundleFiles[j];
      }
    }
    if (found == nullptr) {
      add(entry.name.text, "listed in the sums file, but not a regular file of the bundle");
    } else if (found->hashed && memcmp(found->sha256, entry.sha256, kSha256Bytes) != 0) {
      add(entry.name.text, "its SHA-256 is not the one the sums file lists");
    }
  }
  for (int j = 0; j < report->bundleFileCount; ++j) {
    bool listed = false;
    for (int i = 0; i < list.count && !listed; ++i) {
      listed = SameName(report->bundleFiles[j].name.text, list.entries[i].name.text, ignoreCase);
    }
    if (!listed) add(report->bundleFiles[j].name.text, "not listed in the sums file");
  }
}
