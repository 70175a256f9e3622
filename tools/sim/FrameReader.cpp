#include "tools/sim/FrameReader.h"

namespace sim {

void FrameReader::Feed(std::string_view bytes, std::vector<Line>& out) {
  for (char c : bytes) {
    if (c == '\r') {
      if (!buffer_.empty() || overlong_) out.push_back(Line{std::move(buffer_), overlong_});
      buffer_.clear();
      overlong_ = false;
    } else if (buffer_.size() < kMaxLine) {
      buffer_.push_back(c);
    } else {
      overlong_ = true;
    }
  }
}

}  // namespace sim
