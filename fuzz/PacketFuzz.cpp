// The packet assembler with arbitrary settings, bytes, reads and times. Checked:
//  - every byte fed ends in exactly one packet or one discard, in order, or is still held: the
//    pieces put back together (a packet's start and stop strings in front of and after its
//    bytes when they are not included) give the input back, and what is left is what is held;
//  - every piece has the shape the rules allow (strings where they belong, bodies no longer
//    than the size, discards only for a reason the settings make possible);
//  - never more held than the maximum, and no packet longer than it;
//  - with something to cut by and no time passing, how the bytes were cut into reads does not
//    change what comes out.
//
// Input: flags (bit 0 IncludeStrings, bit 1 CaseInsensitive, bit 2 CheckTimeout between
// reads), start string length (0..3) and bytes, stop string length (0..3) and bytes, size byte
// (0..11; 0 none), maximum byte (0: none, else 1..48), time-out byte (ms; 0 none), seed for the
// reads and the time between them, then the stream.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "serial/extras/PacketAssembler.h"

namespace {

using serial::TPacketAssembler;
using serial::TPacketPiece;
using serial::TPacketSettings;
using TTime = TPacketAssembler::TTime;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Matches(std::string_view got, const std::string& want, bool caseInsensitive) {
  if (got.size() != want.size()) return false;
  for (size_t i = 0; i < got.size(); ++i) {
    if (caseInsensitive ? Lower(got[i]) != Lower(want[i]) : got[i] != want[i]) return false;
  }
  return true;
}

struct TRun {
  TPacketAssembler::TPieces pieces;
  size_t pending = 0;
};

class TReads {
 public:
  explicit TReads(uint8_t seed) : state_(seed) {}
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1103515245u + 12345u;
    return bound == 0 ? 0 : (state_ >> 16) % bound;
  }

 private:
  uint32_t state_;
};

// Feeds `stream` in reads chosen by `seed` (0: one read; 255: a byte a read); with `timeStep`
// each read comes up to that many milliseconds after the one before.
TRun Feed(const TPacketSettings& settings, std::string_view stream, uint8_t seed, uint32_t timeStep,
          bool checkBetween) {
  TPacketAssembler assembler;
  assembler.SetSettings(settings);
  TRun run;
  TReads reads(seed);
  TTime now{};
  auto take = [&](TPacketAssembler::TPieces pieces) {
    for (TPacketPiece& p : pieces) run.pieces.push_back(std::move(p));
    if (settings.MaxBufferSize > 0)
      FUZZ_CHECK(assembler.Pending() <= static_cast<size_t>(settings.MaxBufferSize));
  };
  size_t done = 0;
  while (done < stream.size()) {
    size_t count = stream.size() - done;
    if (seed == 255)
      count = 1;
    else if (seed != 0)
      count = std::min<size_t>(count, reads.Next(8));
    now += std::chrono::milliseconds(reads.Next(timeStep + 1));
    if (checkBetween) take(assembler.CheckTimeout(now));
    take(assembler.Feed(stream.substr(done, count), now));
    done += count;
  }
  run.pending = assembler.Pending();
  // What is left comes out whole when dropped.
  const TPacketAssembler::TPieces rest = assembler.Clear();
  FUZZ_CHECK(rest.size() == (run.pending > 0 ? 1u : 0u));
  if (!rest.empty()) {
    FUZZ_CHECK(rest[0].Reason == serial::drCleared);
    FUZZ_CHECK(rest[0].Bytes == stream.substr(stream.size() - run.pending));
  }
  return run;
}

void CheckPieces(const TPacketSettings& s, std::string_view stream, const TRun& run) {
  const std::string& start = s.StartString;
  const std::string& stop = s.StopString;
  const bool rule = !start.empty() || !stop.empty() || s.Size > 0;
  const size_t max = s.MaxBufferSize > 0 ? static_cast<size_t>(s.MaxBufferSize) : 0;
  size_t at = 0;
  for (const TPacketPiece& p : run.pieces) {
    if (!p.Packet) {
      FUZZ_CHECK(!p.Bytes.empty());
      FUZZ_CHECK(stream.substr(at, p.Bytes.size()) == p.Bytes);
      at += p.Bytes.size();
      switch (p.Reason) {
        case serial::drNoStart:
          FUZZ_CHECK(!start.empty());
          break;
        case serial::drOverflow:
          FUZZ_CHECK(max > 0 && p.Bytes.size() == max);
          break;
        case serial::drTimeout:
          FUZZ_CHECK(s.Timeout > 0);
          break;
        case serial::drCleared:
          FUZZ_CHECK(p.Reason != serial::drCleared);  // nobody cleared it
          break;
      }
      continue;
    }
    if (!rule) {
      FUZZ_CHECK(p.StartLength == 0 && p.StopLength == 0);
      if (max > 0) FUZZ_CHECK(p.Bytes.size() <= max);
      FUZZ_CHECK(stream.substr(at, p.Bytes.size()) == p.Bytes);
      at += p.Bytes.size();
      continue;
    }
    const size_t whole = p.StartLength + p.Bytes.size() + p.StopLength;
    if (max > 0) FUZZ_CHECK(whole <= max);
    if (s.IncludeStrings) {
      FUZZ_CHECK(p.StartLength == 0 && p.StopLength == 0);
      FUZZ_CHECK(p.Bytes.size() >= start.size());
      FUZZ_CHECK(
          Matches(std::string_view(p.Bytes).substr(0, start.size()), start, s.CaseInsensitive));
      if (s.Size > 0) FUZZ_CHECK(p.Bytes.size() <= start.size() + static_cast<size_t>(s.Size));
      FUZZ_CHECK(stream.substr(at, p.Bytes.size()) == p.Bytes);
      at += p.Bytes.size();
      if (stop.empty() && s.Size <= 0)
        FUZZ_CHECK(Matches(stream.substr(at, start.size()), start, s.CaseInsensitive));
      continue;
    }
    FUZZ_CHECK(p.StartLength == static_cast<int32_t>(start.size()));
    FUZZ_CHECK(p.StopLength == 0 || p.StopLength == static_cast<int32_t>(stop.size()));
    FUZZ_CHECK(Matches(stream.substr(at, start.size()), start, s.CaseInsensitive));
    at += start.size();
    FUZZ_CHECK(stream.substr(at, p.Bytes.size()) == p.Bytes);
    at += p.Bytes.size();
    if (p.StopLength > 0) {
      FUZZ_CHECK(Matches(stream.substr(at, stop.size()), stop, s.CaseInsensitive));
      at += stop.size();
    }
    // What ended it: the stop string, the size, or (the start string alone) the next start.
    if (s.Size > 0) {
      // The body counts a stop string that ends it.
      FUZZ_CHECK(p.Bytes.size() + p.StopLength <= static_cast<size_t>(s.Size));
      if (p.StopLength == 0) FUZZ_CHECK(p.Bytes.size() == static_cast<size_t>(s.Size));
    } else if (!stop.empty()) {
      FUZZ_CHECK(p.StopLength > 0);
    } else {
      FUZZ_CHECK(Matches(stream.substr(at, start.size()), start, s.CaseInsensitive));
    }
  }
  FUZZ_CHECK(at <= stream.size());
  FUZZ_CHECK(stream.size() - at == run.pending);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  const uint8_t flags = in.Byte();
  TPacketSettings s;
  s.IncludeStrings = (flags & 1) != 0;
  s.CaseInsensitive = (flags & 2) != 0;
  const bool checkBetween = (flags & 4) != 0;
  s.StartString = std::string(in.Bytes(in.Byte() % 4));
  s.StopString = std::string(in.Bytes(in.Byte() % 4));
  s.Size = in.Byte() % 12;
  const uint8_t max = in.Byte();
  s.MaxBufferSize = max == 0 ? 0 : max % 48 + 1;
  s.Timeout = in.Byte();
  const uint8_t seed = in.Byte();
  const std::string_view stream = in.Rest();

  const TRun timed = Feed(s, stream, seed, static_cast<uint32_t>(s.Timeout) * 2, checkBetween);
  CheckPieces(s, stream, timed);

  if (!s.StartString.empty() || !s.StopString.empty() || s.Size > 0) {
    const TRun whole = Feed(s, stream, 0, 0, false);
    CheckPieces(s, stream, whole);
    for (const uint8_t cuts : {seed, uint8_t{255}}) {
      const TRun cut = Feed(s, stream, cuts, 0, checkBetween);
      FUZZ_CHECK(cut.pieces == whole.pieces);
      FUZZ_CHECK(cut.pending == whole.pending);
    }
  }
  return 0;
}
