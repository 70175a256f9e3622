#pragma once
// Reads a fuzz input front to back, so that a seed can be written by hand as the bytes it
// means. An exhausted input reads as zeros and empty strings: every target runs to its end
// whatever the length.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fuzz {

class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ >= size_; }
  size_t Remaining() const { return size_ - position_; }

  uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
  bool Bool() { return (Byte() & 1) != 0; }
  uint16_t U16() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  uint32_t U32() {
    const uint32_t high = U16();
    return high << 16 | U16();
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }

  // Up to `count` bytes, fewer at the end of the input.
  std::string_view Bytes(size_t count) {
    const size_t n = std::min(count, Remaining());
    const std::string_view bytes(reinterpret_cast<const char*>(data_) + position_, n);
    position_ += n;
    return bytes;
  }
  std::string_view Rest() { return Bytes(Remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace fuzz
