// The decoder's state machine: bytes into controls, escape and control sequences.
#include "widgets/emulation/TermDecoder.h"

#include <algorithm>

namespace widgets {
namespace {

constexpr uint8_t kBEL = 0x07;
constexpr uint8_t kBS = 0x08;
constexpr uint8_t kHT = 0x09;
constexpr uint8_t kLF = 0x0A;
constexpr uint8_t kVT = 0x0B;
constexpr uint8_t kFF = 0x0C;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kSO = 0x0E;
constexpr uint8_t kSI = 0x0F;
constexpr uint8_t kCAN = 0x18;
constexpr uint8_t kSUB = 0x1A;
constexpr uint8_t kESC = 0x1B;
constexpr uint8_t kDEL = 0x7F;

bool IsFinal(uint8_t b) {
  return b >= 0x40 && b <= 0x7E;
}

bool IsIntermediate(uint8_t b) {
  return b >= 0x20 && b <= 0x2F;
}

}  // namespace

TTermDecoder::TTermDecoder(TTermScreen& screen, TTermEmulation emulation)
    : screen_(&screen),
      emulation_(emulation),
      ansiEmulation_(emulation == teVT52 ? teANSI : emulation) {}

void TTermDecoder::SetEmulation(TTermEmulation value) {
  // The width DECCOLM chose belongs to the program that asked for it, not to the terminal.
  if (screen_->Columns() != screen_->SetupColumns()) {
    screen_->SetSize(screen_->SetupColumns(), screen_->Rows());
  }
  emulation_ = value;
  if (value != teVT52) ansiEmulation_ = value;
  cursorKeys_ = keypad_ = false;
  End();
}

void TTermDecoder::Reset() {
  screen_->Reset();
  cursorKeys_ = keypad_ = false;
  End();
}

void TTermDecoder::Write(std::string_view bytes) {
  for (const char c : bytes) Byte(static_cast<uint8_t>(c));
}

void TTermDecoder::Write(const void* data, size_t count) {
  Write(std::string_view(static_cast<const char*>(data), count));
}

void TTermDecoder::Begin(TState state) {
  state_ = state;
  length_ = 0;
  count_ = 0;
  index_ = 0;
  params_[0] = 0;
  private_ = 0;
  intermediate_ = 0;
}

int TTermDecoder::Param(int index, int fallback) const {
  const int value = Raw(index);
  return value == 0 ? fallback : value;
}

void TTermDecoder::Byte(uint8_t b) {
  // A sequence that never ends must not hold back everything after it.
  if (state_ != dsGround && ++length_ > kMaxSequenceLength) End();
  if (b == kESC) {
    if (emulation_ == tePlain) return;
    Begin(emulation_ == teVT52 ? dsVT52Escape : dsEscape);
    return;
  }
  if (b == kCAN || b == kSUB) {
    End();
    return;
  }
  if (b == kDEL) return;
  if (b < 0x20) {
    // Controls act in the middle of a sequence, which goes on after them; in a string they
    // are part of it, and BEL ends it.
    if (state_ == dsString) {
      if (b == kBEL) End();
      return;
    }
    Control(b);
    return;
  }
  switch (state_) {
    case dsGround:
      if (b < 0x80) {
        screen_->Put(b);
      } else if (b >= 0xA0) {
        screen_->Put(char32_t{b});
      }
      return;
    case dsEscape:
      Escape(b);
      return;
    case dsEscapeIntermediate:
      if (b >= 0x80) {
        End();
      } else if (IsIntermediate(b)) {
        intermediate_ = static_cast<char>(kDEL);  // two intermediates: nothing we know
      } else {
        EscapeDispatch(b);
        End();
      }
      return;
    case dsCsi:
      CsiByte(b);
      return;
    case dsCsiIgnore:
      if (IsFinal(b)) End();
      return;
    case dsString:
      return;
    case dsVT52Escape:
      VT52Escape(b);
      return;
    case dsVT52Row:
      vt52Row_ = b - 0x20;
      state_ = dsVT52Column;
      return;
    case dsVT52Column:
      screen_->MoveTo(b - 0x20, vt52Row_);
      End();
      return;
  }
}

void TTermDecoder::Control(uint8_t b) {
  switch (b) {
    case kBEL:
      if (OnBell) OnBell(*this);
      break;
    case kBS:
      screen_->Backspace();
      break;
    case kHT:
      screen_->Tab();
      break;
    case kLF:
    case kVT:
    case kFF:
      screen_->LineFeed();
      break;
    case kCR:
      screen_->CarriageReturn();
      break;
    case kSO:
      if (emulation_ != teVT52 && emulation_ != tePlain) screen_->SetShift(1);
      break;
    case kSI:
      if (emulation_ != teVT52 && emulation_ != tePlain) screen_->SetShift(0);
      break;
    default:
      break;
  }
}

void TTermDecoder::Escape(uint8_t b) {
  if (b >= 0x80) {
    End();
    return;
  }
  if (IsIntermediate(b)) {
    intermediate_ = static_cast<char>(b);
    state_ = dsEscapeIntermediate;
    return;
  }
  switch (b) {
    case '[':
      state_ = dsCsi;
      return;
    case ']':  // operating system command
    case 'P':  // device control string
    case 'X':  // start of string
    case '^':  // privacy message
    case '_':  // application program command
      state_ = dsString;
      return;
    default:
      EscapeDispatch(b);
      End();
      return;
  }
}

void TTermDecoder::CsiByte(uint8_t b) {
  if (b >= 0x80) {
    state_ = dsCsiIgnore;
    return;
  }
  if (b >= '0' && b <= '9') {
    if (intermediate_ != 0) {
      state_ = dsCsiIgnore;
      return;
    }
    if (count_ == 0) count_ = 1;
    if (index_ < kMaxParameters) {
      int& p = params_[index_];
      // A leading zero changes nothing, and any number of them is one parameter: only the
      // value is bounded, not the bytes that spell it.
      if (p == 0 && b == '0') --length_;
      p = std::min(p * 10 + (b - '0'), kMaxParameterValue);
    }
    return;
  }
  if (b == ';') {
    if (intermediate_ != 0) {
      state_ = dsCsiIgnore;
      return;
    }
    if (count_ == 0) count_ = 1;
    // Past the parameters kept the rest are read and ignored.
    index_ = std::min(index_ + 1, kMaxParameters);
    if (index_ < kMaxParameters) {
      params_[index_] = 0;
      count_ = index_ + 1;
    }
    return;
  }
  if (b == '<' || b == '=' || b == '>' || b == '?') {
    // A marker only leads; anywhere else the sequence is not one of ours.
    if (count_ == 0 && private_ == 0 && intermediate_ == 0) {
      private_ = static_cast<char>(b);
    } else {
      state_ = dsCsiIgnore;
    }
    return;
  }
  if (b == ':') {
    state_ = dsCsiIgnore;
    return;
  }
  if (IsIntermediate(b)) {
    if (intermediate_ != 0) {
      state_ = dsCsiIgnore;
    } else {
      intermediate_ = static_cast<char>(b);
    }
    return;
  }
  CsiDispatch(b);
  End();
}

}  // namespace widgets
