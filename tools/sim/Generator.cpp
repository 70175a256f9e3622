#include "tools/sim/Generator.h"

#include <algorithm>

namespace sim {
namespace {

// 19200 bit/s with a start bit, eight data bits and a stop bit.
constexpr std::int64_t kBitsPerByte = 10;
constexpr std::int64_t kBitRate = 19200;
// The second half of a split reply comes more than one panel tick after the first.
constexpr Micros kSplitGap{120'000};

Micros ByteOffset(std::size_t index) {
  return Micros(static_cast<std::int64_t>(index) * kBitsPerByte * 1'000'000 / kBitRate);
}

}  // namespace

Generator::Generator(Options options, Micros origin)
    : options_(options),
      origin_(origin),
      model_(options.release, options.seed, origin),
      faults_(options),
      lineFreeAt_(origin) {}

bool Generator::HangUpDue(Micros now) const {
  return options_.hangupAfter && framesReceived_ >= *options_.hangupAfter && pending_.empty() &&
         now >= lastActivity_ + kHangUpGrace;
}

void Generator::Feed(std::string_view bytes, Micros now) {
  std::vector<FrameReader::Line> lines;
  reader_.Feed(bytes, lines);
  for (auto& line : lines) {
    if (options_.hangupAfter && framesReceived_ >= *options_.hangupAfter) break;
    ++framesReceived_;
    lastActivity_ = now;
    if (line.overlong) {
      Record(now, true, line.bytes, "overlong, ignored");
      continue;
    }
    auto outcome = model_.Handle(line.bytes, now);
    Record(now, true, line.bytes + '\r', outcome.understood ? "" : "ignored");
    if (outcome.reply) Schedule(std::move(*outcome.reply), now);
  }
}

void Generator::Schedule(std::string reply, Micros now) {
  auto d = faults_.Apply(reply);
  if (d.drop) {
    Record(now, false, "", "dropped");
    return;
  }
  std::string note;
  if (d.garbage) note = "garbage";
  if (d.wrongAddress) note += note.empty() ? "wrong address" : ", wrong address";
  Micros start = std::max(now + std::chrono::duration_cast<Micros>(options_.delay), lineFreeAt_);
  if (d.split) {
    std::size_t half = reply.size() / 2;
    std::string sep = note.empty() ? "" : ", ";
    Queue(reply.substr(0, half), start, note + sep + "split 1/2");
    Queue(reply.substr(half), lineFreeAt_ + kSplitGap, note + sep + "split 2/2");
  } else {
    Queue(std::move(reply), start, note);
  }
}

void Generator::Queue(std::string bytes, Micros start, std::string note) {
  if (options_.pace) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bool last = i + 1 == bytes.size();
      pending_.push_back(
          Piece{std::string(1, bytes[i]), start + ByteOffset(i), last, last ? note : ""});
    }
    lineFreeAt_ = start + ByteOffset(bytes.size());
  } else {
    pending_.push_back(Piece{std::move(bytes), start, true, std::move(note)});
    lineFreeAt_ = start;
  }
}

std::vector<Generator::ReplyEvent> Generator::TakeDue(Micros now) {
  std::vector<ReplyEvent> out;
  while (!pending_.empty() && pending_.front().due <= now) {
    Piece& p = pending_.front();
    if (options_.trace) {
      outgoingTrace_ += p.bytes;
      if (p.endsTraceLine) {
        Record(now, false, std::move(outgoingTrace_), std::move(p.note));
        outgoingTrace_.clear();
      }
    }
    out.push_back(ReplyEvent{std::move(p.bytes), p.due});
    pending_.pop_front();
    lastActivity_ = now;
  }
  return out;
}

std::string Generator::TakeDueBytes(Micros now) {
  std::string bytes;
  for (auto& e : TakeDue(now)) bytes += e.bytes;
  return bytes;
}

std::optional<Micros> Generator::NextDue() const {
  if (!pending_.empty()) return pending_.front().due;
  if (options_.hangupAfter && framesReceived_ >= *options_.hangupAfter) {
    return lastActivity_ + kHangUpGrace;
  }
  return std::nullopt;
}

void Generator::Record(Micros at, bool received, std::string bytes, std::string note) {
  if (!options_.trace) return;
  trace_.push_back(TraceRecord{at, received, std::move(bytes), std::move(note)});
}

std::vector<TraceRecord> Generator::TakeTrace() {
  std::vector<TraceRecord> out;
  out.swap(trace_);
  return out;
}

}  // namespace sim
