#pragma once
/// \file
/// Cuts a stream of received bytes into packets, with no port and no clock of its own: the
/// caller hands in the bytes and the time they came, and gets back what was cut. TComDataPacket
/// binds one to a port.
///
/// The rules, looked at byte by byte, so that how the bytes were cut into reads never changes
/// what comes out:
///  - With a start string, bytes are held until the held bytes end with it. What came before it
///    is discarded (drNoStart) in one piece when the start string is complete; the packet then
///    begins. A start string inside a packet's body is data, except with the start string alone.
///  - The packet ends at the first stop string that lies wholly after the start string; or, with
///    a size, when its body (the bytes after the start string) reaches the size, whichever comes
///    first; or, with the start string alone, where the next start string begins (that start
///    string stays held as the beginning of the next packet).
///  - With no start string the packet begins with the first byte held.
///  - With neither start string, stop string nor size there is nothing to cut by: each handed-in
///    run of bytes is one packet as it came, or, when longer than MaxBufferSize, packets of
///    MaxBufferSize and one of the rest.
///  - A byte that arrives while MaxBufferSize bytes are held first has the held bytes discarded
///    (drOverflow); the byte is then looked at afresh. So nothing longer than the maximum, strings
///    included, is ever held or given out as a packet.
///  - With a time-out, the held bytes are discarded (drTimeout) once it has run out. Its clock
///    starts at the first held byte, and again when a start string completes (the packet's own
///    start). Only Feed and CheckTimeout notice it: the caller calls CheckTimeout when Deadline
///    comes, from a timer or a loop of its own, or lets the next bytes find it.
///  - A change of any setting, and Clear, discard what is held (drCleared).
///
/// With IncludeStrings off a packet's start and stop strings are not given out but still belong
/// to it: StartLength and StopLength say how many received bytes it took in front of and after
/// its Bytes. Every received byte ends in exactly one packet (with those) or one discard, or is
/// still held.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "../../platform/Export.h"

namespace serial {

/// Why bytes were thrown away.
enum TDiscardReason : uint8_t {
  drNoStart,   ///< came before a start string
  drOverflow,  ///< more than MaxBufferSize would have been held
  drTimeout,   ///< the packet did not complete in time
  drCleared,   ///< a setting changed, or the held bytes were dropped on purpose
};

/// The rules a packet is cut by.
struct VALTREX_API TPacketSettings {
  std::string StartString;  ///< what a packet begins with; empty: the first byte held
  std::string StopString;   ///< what a packet ends with; empty: none
  int32_t Size = 0;  ///< the body's length; 0 or less: none
  bool IncludeStrings = false;  ///< whether a packet's bytes keep its start and stop strings
  bool CaseInsensitive = false;  ///< ASCII letters only
  int32_t MaxBufferSize = 1024;  ///< 0 or less: no limit
  int32_t Timeout = 0;           ///< milliseconds; 0 or less: none

  /// Whether every rule is the same.
  bool operator==(const TPacketSettings&) const = default;
};

/// One thing cut from the stream: a packet, or bytes thrown away.
struct VALTREX_API TPacketPiece {
  bool Packet = false;                ///< a packet; false: a discard
  TDiscardReason Reason = drNoStart;  ///< of a discard
  std::string Bytes;                  ///< what the packet gives out, or what was thrown away
  int32_t StartLength = 0;  ///< received bytes of the start string not in Bytes
  int32_t StopLength = 0;   ///< received bytes of the stop string not in Bytes

  /// Whether both are the same thing with the same bytes.
  bool operator==(const TPacketPiece&) const = default;
};

/// The cutting itself, with the rules of the file's description; each call gives back, in order,
/// the packets and discards it made. Not thread-safe: TComDataPacket guards it with a lock.
class VALTREX_API TPacketAssembler {
 public:
  /// A point in time on the steady clock.
  using TTime = std::chrono::steady_clock::time_point;
  /// What one call cut, in the order of the bytes.
  using TPieces = std::vector<TPacketPiece>;

  /// The rules in force.
  const TPacketSettings& Settings() const { return settings_; }
  /// Gives the discard of what was held when the settings differ from the ones in force.
  TPieces SetSettings(const TPacketSettings& settings);

  /// The bytes of one read, which came at `now`; a time-out that has run out is seen first.
  TPieces Feed(std::string_view bytes, TTime now);
  /// The discard of what is held when its time-out has run out by `now`; nothing otherwise.
  TPieces CheckTimeout(TTime now);
  /// The discard of what is held (drCleared), if anything is.
  TPieces Clear();

  /// Bytes held that belong to no packet or discard yet.
  size_t Pending() const { return held_.size(); }
  /// When what is held times out; none while nothing is held or without a time-out.
  std::optional<TTime> Deadline() const;

 private:
  bool HasRule() const;
  bool EndsWith(const std::string& tail) const;
  void Take(char byte, TTime now, TPieces& out);
  void Cut(size_t stopLength, TPieces& out);
  void Drop(TDiscardReason reason, TPieces& out);
  void Restart();

  TPacketSettings settings_;
  std::string held_;
  // The held bytes begin with a start string (always true without one).
  bool inPacket_ = true;
  TTime began_{};
};

}  // namespace serial
