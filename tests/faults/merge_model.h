// A reference model of the installer log's merge into the run log, fed the installer log's bytes
// a block at a time, so that a log of hundreds of MiB is checked without being held in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

class MergeModel {
 public:
  /// Receives the run-log bytes that the merge appends, piece by piece, in order.
  using Sink = std::function<void(const char* bytes, size_t count)>;

  explicit MergeModel(Sink sink) : sink_(std::move(sink)) {}
  /// Takes the next bytes of the installer log as stored on disk.
  void Feed(const unsigned char* bytes, size_t count);
  /// Ends the installer log and hands out its last piece.
  void Finish();

 private:
  void Take(char byte);
  void EndChunk();

  Sink sink_;
  std::string chunk_;       // the text-mode chunk being read, at most 239 bytes
  bool pendingCr_ = false;  // a CR whose next byte is not known yet
  bool ended_ = false;      // byte 26 was read: nothing after it counts
};

/// The whole merge of a small installer log, for the model's own check.
std::string MergeOf(const std::string& installerLog);
