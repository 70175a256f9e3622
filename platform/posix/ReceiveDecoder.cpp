#include "platform/posix/ReceiveDecoder.h"

namespace platform::posix {

TReceiveMarks TReceiveDecoder::Decode(const uint8_t* raw, size_t count, std::vector<uint8_t>& out) {
  TReceiveMarks marks;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = raw[i];
    switch (state_) {
      case kData:
        if (c == 0xFF) {
          state_ = kAfterFF;
        } else if (c != 0 || !options_.discardNull) {
          out.push_back(c);
        }
        break;
      case kAfterFF:
        if (c == 0x00) {
          state_ = kAfterFF00;
        } else {
          // The doubled 0xFF of a data byte (anything else cannot follow a lone 0xFF).
          out.push_back(0xFF);
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
          out.push_back(options_.replaceErrors ? options_.errorChar : c);
        }
        break;
    }
  }
  return marks;
}

}  // namespace platform::posix
