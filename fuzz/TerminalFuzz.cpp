// The terminal's decoder and screen model with any bytes, any screen size and any cuts.
// Checked:
//  - after every write the cursor is on the screen (within the half a double-width line
//    holds), the scroll region inside it, every line as wide as the screen, and the history no
//    longer than its limit;
//  - how the bytes are cut into writes does not change the screen, the history, the modes or
//    the replies;
//  - every reply and every key's bytes start with ESC;
//  - a resize or an emulation change between writes keeps the same bounds.
//
// Input: columns (two bytes), rows, history limit (0..31), emulation (0..2), cut seed, flags
// (bit 0: resize between writes, bit 1: switch the emulation between writes), then the stream.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "widgets/emulation/TermDecoder.h"
#include "widgets/emulation/TermScreen.h"

namespace {

using widgets::TTermDecoder;
using widgets::TTermEmulation;
using widgets::TTermScreen;

class TCuts {
 public:
  explicit TCuts(uint8_t seed) : state_(seed) {}
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1103515245u + 12345u;
    return bound == 0 ? 0 : (state_ >> 16) % bound;
  }

 private:
  uint32_t state_;
};

struct TRun {
  TRun(int columns, int rows, int history, TTermEmulation emulation)
      : screen(columns, rows, history), decoder(screen, emulation) {
    decoder.OnReply = [this](TTermDecoder&, const std::string& bytes) {
      FUZZ_CHECK(!bytes.empty() && bytes[0] == '\x1b');
      replies += bytes;
    };
    decoder.OnBell = [this](TTermDecoder&) { ++bells; };
  }
  TTermScreen screen;
  TTermDecoder decoder;
  std::string replies;
  int bells = 0;
};

void CheckBounds(const TTermScreen& s) {
  FUZZ_CHECK(s.Columns() >= 1 && s.Columns() <= TTermScreen::kMaxColumns);
  FUZZ_CHECK(s.Rows() >= 1 && s.Rows() <= TTermScreen::kMaxRows);
  FUZZ_CHECK(s.CursorColumn() >= 0 && s.CursorColumn() < s.Columns());
  FUZZ_CHECK(s.CursorColumn() < s.LineColumns(s.LineSize(s.CursorRow())));
  FUZZ_CHECK(s.CursorRow() >= 0 && s.CursorRow() < s.Rows());
  FUZZ_CHECK(s.ScrollTop() >= 0 && s.ScrollTop() <= s.ScrollBottom());
  FUZZ_CHECK(s.ScrollBottom() < s.Rows());
  FUZZ_CHECK(s.HistoryCount() <= s.HistoryLimit());
  for (int r = 0; r < s.Rows(); ++r) {
    FUZZ_CHECK(static_cast<int>(s.Line(r).size()) == s.Columns());
  }
  for (int i = 0; i < s.HistoryCount(); ++i) {
    FUZZ_CHECK(s.HistoryLine(i).size() <= static_cast<size_t>(TTermScreen::kMaxColumns));
  }
}

bool Same(const TRun& a, const TRun& b) {
  const TTermScreen& x = a.screen;
  const TTermScreen& y = b.screen;
  if (x.CursorColumn() != y.CursorColumn() || x.CursorRow() != y.CursorRow() ||
      x.WrapPending() != y.WrapPending() || !(x.Attributes() == y.Attributes()) ||
      x.ScrollTop() != y.ScrollTop() || x.ScrollBottom() != y.ScrollBottom() ||
      x.AutoWrap() != y.AutoWrap() || x.OriginMode() != y.OriginMode() ||
      x.InsertMode() != y.InsertMode() || x.NewLineMode() != y.NewLineMode() ||
      x.Shift() != y.Shift() || x.Charset(0) != y.Charset(0) || x.Charset(1) != y.Charset(1) ||
      x.HistoryCount() != y.HistoryCount()) {
    return false;
  }
  if (a.decoder.Emulation() != b.decoder.Emulation() ||
      a.decoder.CursorKeysApplication() != b.decoder.CursorKeysApplication() ||
      a.decoder.KeypadApplication() != b.decoder.KeypadApplication() || a.replies != b.replies ||
      a.bells != b.bells) {
    return false;
  }
  for (int r = 0; r < x.Rows(); ++r) {
    if (x.Line(r) != y.Line(r)) return false;
  }
  for (int i = 0; i < x.HistoryCount(); ++i) {
    if (x.HistoryLine(i) != y.HistoryLine(i)) return false;
  }
  for (int c = 0; c < x.Columns(); ++c) {
    if (x.IsTabStop(c) != y.IsTabStop(c)) return false;
  }
  return true;
}

void CheckKeys(const TTermDecoder& decoder) {
  for (int k = widgets::tkUp; k <= widgets::tkF12; ++k) {
    const std::string bytes = decoder.KeyBytes(static_cast<widgets::TTermKey>(k));
    FUZZ_CHECK(bytes.empty() || (bytes.size() >= 2 && bytes[0] == '\x1b'));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  const int columns = 1 + in.U16() % TTermScreen::kMaxColumns;
  const int rows = 1 + in.Byte() % TTermScreen::kMaxRows;
  const int history = in.Byte() % 32;
  const auto emulation = static_cast<TTermEmulation>(in.Byte() % 4);
  const uint8_t seed = in.Byte();
  const uint8_t flags = in.Byte();
  const std::string_view stream = in.Rest();

  TRun whole(columns, rows, history, emulation);
  whole.decoder.Write(stream);
  CheckBounds(whole.screen);
  CheckKeys(whole.decoder);

  TRun cut(columns, rows, history, emulation);
  TCuts cuts(seed);
  for (size_t done = 0; done < stream.size();) {
    const size_t count = seed == 255 ? 1 : std::min<size_t>(stream.size() - done, cuts.Next(9));
    cut.decoder.Write(stream.substr(done, count));
    CheckBounds(cut.screen);
    done += count;
  }
  FUZZ_CHECK(Same(whole, cut));

  if (flags & 3) {
    TRun changed(columns, rows, history, emulation);
    TCuts changes(static_cast<uint8_t>(seed ^ 0x5A));
    for (size_t done = 0; done < stream.size();) {
      const size_t count = std::min<size_t>(stream.size() - done, 1 + changes.Next(16));
      changed.decoder.Write(stream.substr(done, count));
      done += count;
      if ((flags & 1) && changes.Next(4) == 0) {
        changed.screen.SetSize(static_cast<int>(changes.Next(40)) - 2,
                               static_cast<int>(changes.Next(20)) - 2);
        changed.screen.SetHistoryLimit(static_cast<int>(changes.Next(8)) - 1);
      }
      if ((flags & 2) && changes.Next(4) == 0) {
        changed.decoder.SetEmulation(static_cast<TTermEmulation>(changes.Next(4)));
      }
      CheckBounds(changed.screen);
      CheckKeys(changed.decoder);
    }
  }
  return 0;
}
