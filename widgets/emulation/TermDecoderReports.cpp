// The decoder's replies and reports to the host, and the bytes the keys send.
#include "widgets/emulation/TermDecoder.h"

#include <array>
#include <string>

namespace widgets {
namespace {

// The VT100's speed steps; the code of each is eight times its place.
constexpr std::array<int, 16> kSpeeds = {50,   75,   110,  134,  150,  200,  300,  600,
                                         1200, 1800, 2000, 2400, 3600, 4800, 9600, 19200};

}  // namespace

void TTermDecoder::Reply(const std::string& bytes) {
  if (OnReply) OnReply(*this, bytes);
}

int TTermDecoder::SpeedCode(int baudRate) {
  if (baudRate > kSpeeds.back()) return 128;
  int code = 0;
  for (size_t i = 0; i < kSpeeds.size() && kSpeeds[i] <= baudRate; ++i) {
    code = static_cast<int>(i) * 8;
  }
  return code;
}

void TTermDecoder::ReportParameters(int solicited) {
  const TTermLineSettings line = OnLineSettings ? OnLineSettings(*this) : TTermLineSettings{};
  // 1: no parity, 4: odd, 5: even; 1: 8 bits, 2: 7 bits; the clock multiplier 1, no flags.
  const int parity = line.Parity == tpOdd ? 4 : (line.Parity == tpEven ? 5 : 1);
  const int bits = line.DataBits >= 8 ? 1 : 2;
  const std::string speed = std::to_string(SpeedCode(line.BaudRate));
  Reply("\x1b[" + std::to_string(solicited) + ";" + std::to_string(parity) + ";" +
        std::to_string(bits) + ";" + speed + ";" + speed + ";1;0x");
}

std::string TTermDecoder::KeyBytes(TTermKey key) const {
  if (key == tkReturn) return emulation_ != teVT52 && screen_->NewLineMode() ? "\r\n" : "\r";
  if (emulation_ == teVT52) {
    switch (key) {
      case tkUp:
        return "\x1b"
               "A";
      case tkDown:
        return "\x1b"
               "B";
      case tkRight:
        return "\x1b"
               "C";
      case tkLeft:
        return "\x1b"
               "D";
      case tkHome:
        return "\x1b"
               "H";
      case tkF1:
        return "\x1b"
               "P";
      case tkF2:
        return "\x1b"
               "Q";
      case tkF3:
        return "\x1b"
               "R";
      case tkF4:
        return "\x1b"
               "S";
      default:
        return {};
    }
  }
  // Cursor keys, Home and End in their application form after DECCKM set.
  const std::string cursor = cursorKeys_ ? "\x1bO" : "\x1b[";
  switch (key) {
    case tkUp:
      return cursor + "A";
    case tkDown:
      return cursor + "B";
    case tkRight:
      return cursor + "C";
    case tkLeft:
      return cursor + "D";
    case tkHome:
      return cursor + "H";
    case tkEnd:
      return cursor + "F";
    case tkInsert:
      return "\x1b[2~";
    case tkDelete:
      return "\x1b[3~";
    case tkPageUp:
      return "\x1b[5~";
    case tkPageDown:
      return "\x1b[6~";
    case tkF1:
      return "\x1bOP";
    case tkF2:
      return "\x1bOQ";
    case tkF3:
      return "\x1bOR";
    case tkF4:
      return "\x1bOS";
    default:
      break;
  }
  static constexpr std::array<int, 8> kFunction = {15, 17, 18, 19, 20, 21, 23, 24};
  if (key >= tkF5 && key <= tkF12) {
    return "\x1b[" + std::to_string(kFunction[key - tkF5]) + "~";
  }
  return {};
}

}  // namespace widgets
