#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Cuts the byte stream from the panel into lines ended by CR. The buffer is bounded: a
// line that grows past kMaxLine is cut short, flagged and resynchronised at the next CR,
// so a peer that never sends CR cannot make the generator hoard memory.
class FrameReader {
 public:
  static constexpr std::size_t kMaxLine = 64;

  struct Line {
    std::string bytes;  // without the CR, at most kMaxLine bytes
    bool overlong = false;
  };

  // Appends every line completed by these bytes to out. Empty lines are skipped.
  void Feed(std::string_view bytes, std::vector<Line>& out);

  // Bytes of the unfinished line held so far.
  std::size_t Pending() const { return buffer_.size(); }

 private:
  std::string buffer_;
  bool overlong_ = false;
};

}  // namespace sim
