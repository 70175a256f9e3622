#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sim/FaultInjector.h"
#include "tools/sim/FrameReader.h"
#include "tools/sim/GeneratorModel.h"
#include "tools/sim/Options.h"
#include "tools/sim/Trace.h"

namespace sim {

// The generator's side of the line, with no line attached: bytes go in with the time they
// arrived, replies come out as bytes due at a time. The caller owns the clock.
class Generator {
 public:
  // One piece of reply that is to be written at a time. A reply is one piece, or two
  // when split, or one piece per byte when paced.
  struct ReplyEvent {
    std::string bytes;
    Micros due{0};
  };

  Generator(Options options, Micros origin);

  // Bytes from the panel, received at now.
  void Feed(std::string_view bytes, Micros now);

  // Removes and returns the pieces due by now, in line order.
  std::vector<ReplyEvent> TakeDue(Micros now);
  std::string TakeDueBytes(Micros now);

  // When the next piece falls due, or the line is to be cut, if either is waiting.
  std::optional<Micros> NextDue() const;
  bool HasPending() const { return !pending_.empty(); }

  // Lines received so far (answered, ignored or not understood alike).
  std::uint64_t FramesReceived() const { return framesReceived_; }
  // The hang-up count has been reached, every reply before it has been taken and the
  // panel has had kHangUpGrace to read the last one: the line is to be cut now. Input
  // after the last counted frame is ignored.
  bool HangUpDue(Micros now) const;
  static constexpr Micros kHangUpGrace{200'000};

  // Records of frames in and out since the last call (kept only with Options::trace).
  std::vector<TraceRecord> TakeTrace();

  const GeneratorModel& Model() const { return model_; }
  GeneratorModel& Model() { return model_; }
  const Options& GetOptions() const { return options_; }
  Micros Origin() const { return origin_; }

 private:
  struct Piece {
    std::string bytes;
    Micros due;
    bool endsTraceLine;
    std::string note;
  };

  void Schedule(std::string reply, Micros now);
  void Queue(std::string bytes, Micros start, std::string note);
  void Record(Micros at, bool received, std::string bytes, std::string note);

  Options options_;
  Micros origin_;
  GeneratorModel model_;
  FaultInjector faults_;
  FrameReader reader_;
  std::deque<Piece> pending_;
  Micros lineFreeAt_{0};
  std::uint64_t framesReceived_ = 0;
  Micros lastActivity_{0};     // last frame counted or piece handed out
  std::string outgoingTrace_;  // bytes of a paced reply that are out but not yet traced
  std::vector<TraceRecord> trace_;
};

}  // namespace sim
