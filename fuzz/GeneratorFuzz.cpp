// The simulator's engine fed arbitrary bytes and well-formed frames at arbitrary times, with
// arbitrary options. Whatever it is sent it answers each line at most once, hands replies out
// in order and never before they fall due, keeps nothing once all is due, and every reply it
// writes has one of the reply layouts (the panel's own parsers accept it when no fault is on).
//
// Input: the options (release, seed, delay, pace, four fault rates, hang-up count, trace),
// then operations until the input ends: an operation byte and its arguments.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/protocol/Replies.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "tools/sim/Generator.h"
#include "tools/sim/GeneratorModel.h"
#include "tools/sim/Trace.h"

namespace {

using sim::Micros;

constexpr std::string_view kQueryLetters = "fswmcbaqvgtpy?&";
constexpr std::string_view kWords[] = {"SR", "wr", "start", "stop", "S", "SRR", ""};
constexpr size_t kLongestReply = 14;  // "#02&hhhrrrppp\r"
constexpr int kMostJumps = 2;         // long silences cost the transducer model many steps

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool DigitsAt(std::string_view text, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

double Rate(uint8_t byte) {
  // Half the inputs run with the fault off, so the strict reply check gets its share.
  return byte < 128 ? 0.0 : (byte - 127) / 128.0;
}

// One reply without its CR. Faults only ever touch positions 0..3 (and split or drop whole
// replies), so the rest keeps its layout in any case.
void CheckReply(std::string_view reply, bool faultsOn, int release) {
  FUZZ_CHECK(reply.size() >= 5);
  const size_t n = reply.size();
  if (n == 8) {
    FUZZ_CHECK(reply[4] == 'R' && DigitsAt(reply, 5, 8));
  } else if (n == 10) {
    FUZZ_CHECK(DigitsAt(reply, 4, 6) && reply[6] == '.' && DigitsAt(reply, 7, 10));
  } else if (n == 11) {
    FUZZ_CHECK(DigitsAt(reply, 4, 10) && (reply[10] == '0' || reply[10] == '1'));
  } else {
    FUZZ_CHECK(n == 13);
    FUZZ_CHECK(DigitsAt(reply, 4, 13));
  }
  if (faultsOn) return;

  FUZZ_CHECK(reply.substr(0, 3) == "#02");
  const char kind = reply[3];
  if (n == 8) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", release);
    FUZZ_CHECK(reply.substr(3) == std::string("SR") + digits);
    const auto parsed = app::protocol::ParseStatusReply(reply);
    FUZZ_CHECK(parsed && parsed->label == reply.substr(3));
  } else if (n == 10) {
    FUZZ_CHECK(sim::GeneratorModel::OwnerOf(kind).has_value());
    const auto value = app::protocol::ParseParameterReply(reply, kind);
    FUZZ_CHECK(value && *value >= 0 && *value <= 99999);
  } else if (n == 11) {
    FUZZ_CHECK(kind == '?');
    const auto dc = app::protocol::ParseDcReply(reply);
    FUZZ_CHECK(dc && dc->current >= 0 && dc->current <= 999 && dc->voltage >= 0 &&
               dc->voltage <= 999);
  } else {
    FUZZ_CHECK(kind == '&');
    const auto hf = app::protocol::ParseHfReply(reply);
    FUZZ_CHECK(hf && hf->hfCurrent >= 0 && hf->hfCurrent <= 999 && hf->regulator >= 0 &&
               hf->regulator <= 999 && hf->phase >= 0 && hf->phase <= 999);
  }
}

// A frame the panel could send, or a near miss of one.
std::string MakeFrame(fuzz::TInput& in) {
  const uint8_t pick = in.Byte();
  const char unit = (pick & 0x10) ? '3' : '1';
  std::string frame;
  switch (pick % 4) {
    case 0:
      frame = std::string("%0") + unit + kQueryLetters[in.Byte() % kQueryLetters.size()];
      break;
    case 1: {
      const unsigned value = in.U32() % 100000;
      char text[16];
      std::snprintf(text, sizeof text, "%02u.%03u", value / 1000, value % 1000);
      frame = std::string("#0") + unit + kQueryLetters[in.Byte() % 13] + text;
      break;
    }
    case 2:
      frame = std::string("@0") + unit + std::string(kWords[in.Byte() % std::size(kWords)]);
      break;
    default:
      // Noise in front of a frame, as after a line glitch.
      frame = std::string(in.Bytes(in.Byte() % 8)) + "%01?";
      break;
  }
  return frame + '\r';
}

struct TRun {
  TRun(const sim::Options& options, Micros start)
      : generator(options, start), origin(start), now(start) {}

  sim::Generator generator;
  Micros origin;
  Micros now;
  Micros lastDue = Micros::min();
  std::string out;
  uint64_t crsFed = 0;
  uint64_t framesSeen = 0;
  uint64_t receivedRecords = 0;

  void Feed(std::string_view bytes) {
    crsFed += static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\r'));
    generator.Feed(bytes, now);
    FUZZ_CHECK(generator.FramesReceived() >= framesSeen);
    FUZZ_CHECK(generator.FramesReceived() <= crsFed);
    framesSeen = generator.FramesReceived();
    AfterStep();
  }

  void Take(bool asEvents) {
    if (asEvents) {
      for (const auto& event : generator.TakeDue(now)) {
        FUZZ_CHECK(!event.bytes.empty());
        FUZZ_CHECK(event.due <= now);
        FUZZ_CHECK(event.due >= lastDue);
        lastDue = event.due;
        out += event.bytes;
      }
    } else {
      out += generator.TakeDueBytes(now);
    }
    // Everything due has gone; what is left is due later.
    if (generator.HasPending()) {
      const auto next = generator.NextDue();
      FUZZ_CHECK(next && *next > now);
    }
    AfterStep();
  }

  void AfterStep() {
    const sim::Options& options = generator.GetOptions();
    if (options.hangupAfter) FUZZ_CHECK(generator.FramesReceived() <= *options.hangupAfter);
    if (generator.HangUpDue(now)) FUZZ_CHECK(!generator.HasPending());
    // Each line answered at most once, so the replies are bounded by the lines.
    FUZZ_CHECK(out.size() <= kLongestReply * generator.FramesReceived());
    for (const sim::TraceRecord& record : generator.TakeTrace()) {
      FUZZ_CHECK(options.trace);
      if (record.received) ++receivedRecords;
      const std::string line = sim::FormatTrace(record, origin);
      for (char c : line) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    }
    if (options.trace) FUZZ_CHECK(receivedRecords == generator.FramesReceived());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  sim::Options options;
  options.release = in.U16() % 1000;
  options.seed = in.Byte();
  options.delay = std::chrono::milliseconds(in.Byte());
  const uint8_t flags = in.Byte();
  options.pace = (flags & 1) != 0;
  options.trace = (flags & 2) != 0;
  options.dropRate = Rate(in.Byte());
  options.splitRate = Rate(in.Byte());
  options.garbageRate = Rate(in.Byte());
  options.wrongAddressRate = Rate(in.Byte());
  if (flags & 4) options.hangupAfter = in.Byte();
  const bool faultsOn = options.dropRate > 0 || options.splitRate > 0 || options.garbageRate > 0 ||
                        options.wrongAddressRate > 0;

  const Micros origin{static_cast<int64_t>(in.U32()) * 1000};
  TRun run(options, origin);
  int jumps = 0;
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    switch (op % 8) {
      case 0:
      case 1:
        run.now += std::chrono::milliseconds(in.Byte());
        run.Feed(in.Bytes(in.Byte() % 32));
        break;
      case 2:
      case 3:
        run.now += std::chrono::milliseconds(in.Byte());
        run.Feed(MakeFrame(in));
        break;
      case 4:
      case 5:
        run.now += std::chrono::microseconds(in.U16() * 4);
        run.Take(op % 8 == 4);
        break;
      case 6: {
        // The clock of a caller may step back a little; never before the origin.
        const Micros back = std::chrono::milliseconds(in.Byte());
        run.now = std::max(origin, run.now - back);
        run.Take(true);
        break;
      }
      default:
        if (jumps++ < kMostJumps) run.now += std::chrono::seconds(in.U16() % 2000);
        run.Take(false);
        break;
    }
  }

  // Far enough on, everything has fallen due and nothing is held back.
  run.now += std::chrono::hours(1);
  run.Take(true);
  FUZZ_CHECK(!run.generator.HasPending());
  FUZZ_CHECK(run.out.empty() || run.out.back() == '\r');

  uint64_t replies = 0;
  size_t start = 0;
  for (size_t cr = run.out.find('\r'); cr != std::string::npos; cr = run.out.find('\r', start)) {
    CheckReply(std::string_view(run.out).substr(start, cr - start), faultsOn, options.release);
    ++replies;
    start = cr + 1;
  }
  FUZZ_CHECK(replies <= run.generator.FramesReceived());
  return 0;
}
