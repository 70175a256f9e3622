#include "platform/posix/ReceiveDecoder.h"

#include <cassert>
#include <cstring>

namespace platform::posix {

template <class Put>
TReceiveMarks TReceiveDecoder::Run(const uint8_t* raw, size_t count, Put put) {
  TReceiveMarks marks;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = raw[i];
    if (!options_.marked) {
      if (c != 0 || !options_.discardNull) put(c);
      continue;
    }
    switch (state_) {
      case kData:
        if (c == 0xFF) {
          state_ = kAfterFF;
        } else if (c != 0 || !options_.discardNull) {
          put(c);
        }
        break;
      case kAfterFF:
        if (c == 0x00) {
          state_ = kAfterFF00;
        } else {
          // The doubled 0xFF of a data byte (anything else cannot follow a lone 0xFF).
          put(0xFF);
          state_ = kData;
          if (c != 0xFF) --i;
        }
        break;
      case kAfterFF00:
        state_ = kData;
        // Without parity checking only a break is marked. With it, a break and a bad NUL look
        // alike; they are taken as a bad byte, and the driver's counters still tell
        // ClearCommError which it was.
        if (c == 0 && !options_.parityCheck) {
          ++marks.breaks;
        } else {
          ++marks.errors;
          if (c == 0) ++marks.nulErrors;
          put(options_.replaceErrors ? options_.errorChar : c);
        }
        break;
    }
  }
  return marks;
}

TReceiveMarks TReceiveDecoder::Decode(const uint8_t* raw, size_t count, std::vector<uint8_t>& out) {
  return Run(raw, count, [&](uint8_t c) { out.push_back(c); });
}

TReceiveMarks TReceiveDecoder::DecodeInPlace(uint8_t* bytes, size_t count, size_t& kept) {
  // Started between marks, every byte written lands at or before the one being read: a mark
  // gives at most one byte for two or three, and a lone 0xFF is written back only once the
  // byte after it has been read. A mark left open by the last call could give two bytes for
  // one, which is why the caller asks InPlace first.
  assert(InPlace());
  kept = 0;
  if (count == 0) return {};
  if (!options_.marked && !options_.discardNull) {
    kept = count;
    return {};
  }
  if (options_.discardNull) {
    size_t out = 0;
    const TReceiveMarks marks = Run(bytes, count, [&](uint8_t c) { bytes[out++] = c; });
    kept = out;
    return marks;
  }
  // Between marks the bytes are what they are already: they move down in one piece, and only
  // the marks go through the state machine, a byte at a time.
  TReceiveMarks marks;
  size_t in = 0, out = 0;
  while (in < count) {
    if (state_ == kData) {
      const void* ff = std::memchr(bytes + in, 0xFF, count - in);
      const size_t end = ff ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - bytes) : count;
      if (out != in) std::memmove(bytes + out, bytes + in, end - in);
      out += end - in;
      in = end;
      if (in == count) break;
    }
    const TReceiveMarks step = Run(bytes + in, 1, [&](uint8_t c) { bytes[out++] = c; });
    marks.errors += step.errors;
    marks.breaks += step.breaks;
    marks.nulErrors += step.nulErrors;
    ++in;
  }
  kept = out;
  return marks;
}

}  // namespace platform::posix
