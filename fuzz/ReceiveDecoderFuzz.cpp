// The receive path's removal of the driver's byte marks. Two ways in:
//  - raw: arbitrary bytes as the driver might hand them over, cut into arbitrary reads; the
//    decoder may only drop bytes and replace bad ones, and how the bytes were cut must not
//    matter;
//  - marked: a made-up sequence of line happenings (data bytes, bad bytes, breaks) marked the
//    way the driver marks them; decoding must give back exactly the data and the counts.
//
// Input: options byte, error character, seed for the cuts, mode byte, then the stream (raw)
// or the happenings (marked: a kind byte and a value byte each).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "platform/posix/ReceiveDecoder.h"

namespace {

using platform::posix::TReceiveDecoder;
using platform::posix::TReceiveMarks;

struct TDecoded {
  std::vector<uint8_t> bytes;
  TReceiveMarks marks;
};

// Decodes the stream in reads of 0..7 bytes chosen by a small generator from the seed; a
// seed of 0 decodes it in one read.
TDecoded DecodeInReads(const TReceiveDecoder::TOptions& options, const std::vector<uint8_t>& raw,
                       uint8_t seed) {
  TReceiveDecoder decoder;
  decoder.SetOptions(options);
  TDecoded result;
  // Bytes already in the buffer belong to the caller and must stay as they are.
  const std::vector<uint8_t> earlier{0x5A, 0xFF, 0x00};
  result.bytes = earlier;
  uint32_t state = seed;
  size_t done = 0;
  while (done < raw.size()) {
    size_t count = raw.size() - done;
    if (seed != 0) {
      state = state * 1103515245u + 12345u;
      count = std::min<size_t>(count, (state >> 16) % 8);
    }
    const size_t before = result.bytes.size();
    const TReceiveMarks marks = decoder.Decode(raw.data() + done, count, result.bytes);
    // A read hands on at most its own bytes and the one byte a mark left half-seen before it.
    FUZZ_CHECK(result.bytes.size() - before <= count + 1);
    result.marks.errors += marks.errors;
    result.marks.breaks += marks.breaks;
    done += count;
  }
  FUZZ_CHECK(std::equal(earlier.begin(), earlier.end(), result.bytes.begin()));
  result.bytes.erase(result.bytes.begin(), result.bytes.begin() + earlier.size());
  return result;
}

bool IsSubsequence(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  size_t j = 0;
  for (uint8_t c : whole) {
    if (j < part.size() && part[j] == c) ++j;
  }
  return j == part.size();
}

void CheckRaw(const TReceiveDecoder::TOptions& options, const std::vector<uint8_t>& raw,
              uint8_t seed) {
  const TDecoded whole = DecodeInReads(options, raw, 0);
  const TDecoded cut = DecodeInReads(options, raw, seed);
  FUZZ_CHECK(cut.bytes == whole.bytes);
  FUZZ_CHECK(cut.marks.errors == whole.marks.errors);
  FUZZ_CHECK(cut.marks.breaks == whole.marks.breaks);

  // Decoding over the read's own buffer gives what decoding into another one gives.
  TReceiveDecoder inPlace;
  inPlace.SetOptions(options);
  FUZZ_CHECK(inPlace.InPlace());
  std::vector<uint8_t> buffer = raw;
  size_t kept = 0;
  const TReceiveMarks marks = inPlace.DecodeInPlace(buffer.data(), buffer.size(), kept);
  FUZZ_CHECK(kept <= raw.size());
  buffer.resize(kept);
  FUZZ_CHECK(buffer == whole.bytes);
  FUZZ_CHECK(marks.errors == whole.marks.errors && marks.breaks == whole.marks.breaks);

  FUZZ_CHECK(whole.bytes.size() <= raw.size());
  // Every mark starts with a 0xFF of its own.
  const auto marksSeen = static_cast<size_t>(std::count(raw.begin(), raw.end(), 0xFF));
  FUZZ_CHECK(size_t{whole.marks.errors} + whole.marks.breaks <= marksSeen);
  if (!options.replaceErrors) FUZZ_CHECK(IsSubsequence(whole.bytes, raw));
  if (marksSeen == 0 || !options.marked) {
    // Nothing marked: the data comes through as it is, less NULs if asked.
    std::vector<uint8_t> expected = raw;
    if (options.discardNull) std::erase(expected, uint8_t{0});
    FUZZ_CHECK(whole.bytes == expected);
    FUZZ_CHECK(whole.marks.errors == 0 && whole.marks.breaks == 0);
  }
}

void CheckMarked(const TReceiveDecoder::TOptions& options, fuzz::TInput& in, uint8_t seed) {
  std::vector<uint8_t> raw;
  TDecoded expected;
  while (!in.Empty()) {
    const uint8_t kind = in.Byte() % 4;
    const uint8_t value = in.Byte();
    if (kind <= 1) {  // a data byte
      if (value == 0xFF) raw.push_back(0xFF);
      raw.push_back(value);
      if (value != 0 || !options.discardNull) expected.bytes.push_back(value);
    } else if (kind == 2) {  // a break
      raw.insert(raw.end(), {0xFF, 0x00, 0x00});
      if (options.parityCheck) {
        // With parity checking a break cannot be told from a bad NUL.
        ++expected.marks.errors;
        expected.bytes.push_back(options.replaceErrors ? options.errorChar : 0);
      } else {
        ++expected.marks.breaks;
      }
    } else if (options.parityCheck) {  // a byte with a parity or framing error
      raw.insert(raw.end(), {0xFF, 0x00, value});
      ++expected.marks.errors;
      expected.bytes.push_back(options.replaceErrors ? options.errorChar : value);
    }
  }
  const TDecoded decoded = DecodeInReads(options, raw, seed);
  FUZZ_CHECK(decoded.bytes == expected.bytes);
  FUZZ_CHECK(decoded.marks.errors == expected.marks.errors);
  FUZZ_CHECK(decoded.marks.breaks == expected.marks.breaks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  const uint8_t flags = in.Byte();
  TReceiveDecoder::TOptions options;
  options.parityCheck = (flags & 1) != 0;
  options.replaceErrors = (flags & 2) != 0;
  options.discardNull = (flags & 4) != 0;
  options.marked = (flags & 8) == 0;
  options.errorChar = in.Byte();
  const uint8_t seed = in.Byte();
  if ((in.Byte() & 1) && options.marked) {
    CheckMarked(options, in, seed);
  } else {
    const auto rest = in.Rest();
    CheckRaw(options, std::vector<uint8_t>(rest.begin(), rest.end()), seed);
  }
  return 0;
}
