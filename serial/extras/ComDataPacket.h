#pragma once
/// \file
/// A packet assembler on a port: a link that takes every buffer the port reads and cuts it into
/// packets by the rules of TPacketAssembler (see there for what ends a packet and what is
/// discarded). Registering the link makes the port read on each receive event, in every delivery
/// mode, so the assembler sees each received byte once.
///
/// Time-outs: the bytes held are checked when new bytes come and when CheckTimeout is called;
/// nothing polls. An application that wants an unfinished packet dropped on time arms a
/// single-shot timer for Deadline() and calls CheckTimeout from it.
///
/// Threads: the handlers run where the port delivers, so with smNone on the event thread. The
/// settings and CheckTimeout may be used from another thread meanwhile (a lock guards the cutting
/// state), but handlers are called outside that lock and two threads' handlers may then overlap.
/// The port must outlive the packet, or be taken from it with SetComPort(nullptr) first.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "../ComLink.h"
#include "PacketAssembler.h"
#include "../../platform/Export.h"

namespace serial {

class TCustomComPort;

/// Cuts what a port receives into packets and hands each to OnPacket, and what it throws away to
/// OnDiscard. Not copyable: the port holds its link.
class VALTREX_API TComDataPacket {
 public:
  /// A packet: its bytes, the start and stop strings included with IncludeStrings.
  using TPacketEvent = std::function<void(TComDataPacket& sender, const std::string& bytes)>;
  /// Bytes thrown away, and why.
  using TDiscardEvent =
      std::function<void(TComDataPacket& sender, const std::string& bytes, TDiscardReason reason)>;
  /// A point in time on the steady clock.
  using TTime = TPacketAssembler::TTime;
  /// A source of the time bytes arrive at.
  using TClock = std::function<TTime()>;

  /// An assembler on no port, with the default rules: no strings, no size, 1024 bytes at most.
  TComDataPacket();
  /// Leaves the port; what is still held is dropped without a report.
  ~TComDataPacket();
  TComDataPacket(const TComDataPacket&) = delete;
  TComDataPacket& operator=(const TComDataPacket&) = delete;

  /// The port whose bytes are cut; null while there is none.
  TCustomComPort* ComPort() const { return comPort_; }
  /// Moves the link to `port` (null: none). What was held from the old port is discarded.
  void SetComPort(TCustomComPort* port);

  /// @name Rules
  /// A change of any setting discards what is held (drCleared).
  ///@{

  /// The bytes a packet begins with; empty: a packet begins with the first byte held.
  std::string StartString() const;
  /// Sets the start string.
  void SetStartString(const std::string& value);
  /// The bytes a packet ends with; empty: none.
  std::string StopString() const;
  /// Sets the stop string.
  void SetStopString(const std::string& value);
  /// The length at which a packet's body ends; 0 or less: none.
  int32_t Size() const;
  /// Sets the body's length.
  void SetSize(int32_t value);
  /// Whether a packet is given out with its start and stop strings.
  bool IncludeStrings() const;
  /// Gives packets out with their strings, or without.
  void SetIncludeStrings(bool value);
  /// Whether the strings match ASCII letters of either case.
  bool CaseInsensitive() const;
  /// Has the strings match either case, or only their own.
  void SetCaseInsensitive(bool value);
  /// The most bytes held at once; more discard what is held (drOverflow). 0 or less: no limit.
  int32_t MaxBufferSize() const;
  /// Sets the most bytes held.
  void SetMaxBufferSize(int32_t value);
  /// Milliseconds a packet may take to complete; 0 or less: no limit.
  int32_t Timeout() const;
  /// Sets the time-out.
  void SetTimeout(int32_t value);
  /// Every rule at once.
  TPacketSettings Settings() const;
  /// Sets every rule at once, discarding what is held only when they differ.
  void SetSettings(const TPacketSettings& value);
  ///@}

  /// Where the time of arrival comes from; empty: the steady clock.
  void SetClock(TClock clock);

  /// Bytes as if the port had received them; the link hands its buffers in here.
  void AddData(const void* buffer, int32_t count);
  /// Discards what is held when its time-out has run out (drTimeout); see Deadline.
  void CheckTimeout();
  /// When what is held times out; none while nothing is held or without a time-out.
  std::optional<TTime> Deadline() const;
  /// Bytes held that belong to no packet or discard yet.
  int32_t Pending() const;
  /// Discards what is held (drCleared); the port closing does the same.
  void ResetBuffer();

  TPacketEvent OnPacket;    ///< a packet was cut
  TDiscardEvent OnDiscard;  ///< bytes were thrown away

 private:
  TTime Now() const;
  // Runs every handler for the pieces even when one raises; the first failure goes on after.
  void Fire(const TPacketAssembler::TPieces& pieces);
  template <typename F>
  void Change(F edit);

  mutable std::mutex mutex_;
  TPacketAssembler assembler_;
  TClock clock_;
  TCustomComPort* comPort_ = nullptr;
  TComLink link_;
};

}  // namespace serial
