// The simulator's cutting of the panel's byte stream into lines, fed in arbitrary pieces. What
// comes out must be what splitting the whole stream at every CR gives: empty lines skipped, a
// line longer than the bound cut to it and flagged, and never more held back than the bound.
//
// Input: a seed for the piece sizes, then the stream.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "tools/sim/FrameReader.h"

namespace {

using sim::FrameReader;

std::vector<FrameReader::Line> SplitAtCr(std::string_view stream, std::string& unfinished) {
  std::vector<FrameReader::Line> lines;
  size_t start = 0;
  for (size_t cr = stream.find('\r'); cr != std::string_view::npos; cr = stream.find('\r', start)) {
    const std::string_view line = stream.substr(start, cr - start);
    if (!line.empty()) {
      lines.push_back({std::string(line.substr(0, FrameReader::kMaxLine)),
                       line.size() > FrameReader::kMaxLine});
    }
    start = cr + 1;
  }
  unfinished = std::string(stream.substr(start));
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  uint32_t state = in.Byte();
  const std::string_view stream = in.Rest();

  FrameReader reader;
  std::vector<FrameReader::Line> lines;
  size_t fed = 0;
  while (fed < stream.size()) {
    state = state * 1103515245u + 12345u;
    // Mostly short pieces, as reads from a line give them, sometimes a long one.
    const size_t want = (state >> 16) % 16 == 0 ? (state >> 8) % 200 : (state >> 16) % 9;
    const size_t count = std::min(want, stream.size() - fed);
    const size_t before = lines.size();
    reader.Feed(stream.substr(fed, count), lines);
    fed += count;
    FUZZ_CHECK(reader.Pending() <= FrameReader::kMaxLine);
    for (size_t i = before; i < lines.size(); ++i) {
      FUZZ_CHECK(lines[i].bytes.size() <= FrameReader::kMaxLine);
      FUZZ_CHECK(lines[i].bytes.find('\r') == std::string::npos);
      FUZZ_CHECK(!lines[i].bytes.empty() || lines[i].overlong);
    }
  }

  std::string unfinished;
  const std::vector<FrameReader::Line> expected = SplitAtCr(stream, unfinished);
  FUZZ_CHECK(lines.size() == expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(lines[i].bytes == expected[i].bytes);
    FUZZ_CHECK(lines[i].overlong == expected[i].overlong);
  }
  FUZZ_CHECK(reader.Pending() == std::min(unfinished.size(), FrameReader::kMaxLine));
  return 0;
}
