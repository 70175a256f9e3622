#pragma once
// Our receive path's view of the driver's byte marks. With PARMRK the driver hands over a byte
// received with a parity or framing error as 0xFF 0x00 byte, a break as 0xFF 0x00 0x00 and a
// data byte 0xFF doubled; this takes the marks out again, applies the record's replacement
// character and NUL discarding, and says what the marks reported. Unmarked bytes (a line that
// cannot have errors) are all data. Pure: no device.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::posix {

struct TReceiveMarks {
  uint32_t errors = 0;     // bytes received with a parity or framing error
  uint32_t nulErrors = 0;  // of them, bad NULs, which a break looks like
  uint32_t breaks = 0;
};

class TReceiveDecoder {
 public:
  struct TOptions {
    bool parityCheck = false;    // the driver marks bad bytes (INPCK)
    bool replaceErrors = false;  // a bad byte becomes errorChar instead of keeping its value
    uint8_t errorChar = 0;
    bool discardNull = false;  // NUL data bytes are dropped
    bool marked = true;        // the driver marks bytes (PARMRK); without, every byte is data
  };

  void SetOptions(const TOptions& options) { options_ = options; }
  // Appends the data bytes of `raw` to `out`. A mark split over two calls is taken whole.
  TReceiveMarks Decode(const uint8_t* raw, size_t count, std::vector<uint8_t>& out);
  // The same over `bytes` itself, only while InPlace(): the data bytes end up at its start,
  // `kept` of them.
  TReceiveMarks DecodeInPlace(uint8_t* bytes, size_t count, size_t& kept);
  // No mark is half seen, so DecodeInPlace needs no copy.
  bool InPlace() const { return state_ == kData; }
  // Every byte the driver hands over is a data byte as it stands, so the driver's count of
  // bytes is the count of data a read gives.
  bool OneForOne() const { return !options_.marked && !options_.discardNull; }
  // Forgets a half-seen mark (the driver's queue was flushed).
  void Reset() { state_ = kData; }

 private:
  enum State : uint8_t { kData, kAfterFF, kAfterFF00 };
  template <class Put>
  TReceiveMarks Run(const uint8_t* raw, size_t count, Put put);
  TOptions options_;
  State state_ = kData;
};

}  // namespace platform::posix
