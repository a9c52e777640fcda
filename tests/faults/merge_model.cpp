// The merge's rules, written out byte by byte: the installer log is read in text mode (CR LF
// becomes a line feed, a lone CR stays, byte 26 ends the file) in chunks that run up to and
// including a line feed but never past 239 bytes; each chunk is written up to its first NUL and
// followed by a line feed; the run log stores every line feed as CR LF.
#include "faults/merge_model.h"

namespace {

constexpr size_t kChunkLimit = 239;
constexpr unsigned char kEndOfFileByte = 26;

}  // namespace

void MergeModel::Feed(const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count && !ended_; ++i) {
    unsigned char byte = bytes[i];
    if (pendingCr_) {
      pendingCr_ = false;
      if (byte == '\n') {
        Take('\n');
        continue;
      }
      Take('\r');
    }
    if (byte == kEndOfFileByte) {
      Finish();
      ended_ = true;
    } else if (byte == '\r') {
      pendingCr_ = true;
    } else {
      Take(static_cast<char>(byte));
    }
  }
}

void MergeModel::Finish() {
  if (ended_) return;
  if (pendingCr_) Take('\r');
  pendingCr_ = false;
  if (!chunk_.empty()) EndChunk();
}

void MergeModel::Take(char byte) {
  chunk_ += byte;
  if (byte == '\n' || chunk_.size() == kChunkLimit) EndChunk();
}

void MergeModel::EndChunk() {
  std::string stored;
  for (char c : chunk_) {
    if (c == '\0') break;
    if (c == '\n') stored += '\r';
    stored += c;
  }
  stored += "\r\n";
  sink_(stored.data(), stored.size());
  chunk_.clear();
}

std::string MergeOf(const std::string& installerLog) {
  std::string merged;
  MergeModel model([&](const char* bytes, size_t count) { merged.append(bytes, count); });
  model.Feed(reinterpret_cast<const unsigned char*>(installerLog.data()), installerLog.size());
  model.Finish();
  return merged;
}
