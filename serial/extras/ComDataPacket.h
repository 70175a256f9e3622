#pragma once
// A packet assembler on a port: a link that takes every buffer the port reads and cuts it into
// packets by the rules of TPacketAssembler (see there for what ends a packet and what is
// discarded). Registering the link makes the port read on each receive event, in every delivery
// mode, so the assembler sees each received byte once.
//
// Time-outs: the bytes held are checked when new bytes come and when CheckTimeout is called;
// nothing polls. An application that wants an unfinished packet dropped on time arms a
// single-shot timer for Deadline() and calls CheckTimeout from it.
//
// Threads: the handlers run where the port delivers, so with smNone on the event thread. The
// settings and CheckTimeout may be used from another thread meanwhile (a lock guards the cutting
// state), but handlers are called outside that lock and two threads' handlers may then overlap.
// The port must outlive the packet, or be taken from it with SetComPort(nullptr) first.

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

class VALTREX_API TComDataPacket {
 public:
  using TPacketEvent = std::function<void(TComDataPacket& sender, const std::string& bytes)>;
  using TDiscardEvent =
      std::function<void(TComDataPacket& sender, const std::string& bytes, TDiscardReason reason)>;
  using TTime = TPacketAssembler::TTime;
  using TClock = std::function<TTime()>;

  TComDataPacket();
  // Leaves the port; what is still held is dropped without a report.
  ~TComDataPacket();
  TComDataPacket(const TComDataPacket&) = delete;
  TComDataPacket& operator=(const TComDataPacket&) = delete;

  TCustomComPort* ComPort() const { return comPort_; }
  // Moves the link to `port` (null: none). What was held from the old port is discarded.
  void SetComPort(TCustomComPort* port);

  // A change of any setting discards what is held (drCleared).
  std::string StartString() const;
  void SetStartString(const std::string& value);
  std::string StopString() const;
  void SetStopString(const std::string& value);
  int32_t Size() const;
  void SetSize(int32_t value);
  bool IncludeStrings() const;
  void SetIncludeStrings(bool value);
  bool CaseInsensitive() const;
  void SetCaseInsensitive(bool value);
  int32_t MaxBufferSize() const;
  void SetMaxBufferSize(int32_t value);
  int32_t Timeout() const;
  void SetTimeout(int32_t value);
  TPacketSettings Settings() const;
  void SetSettings(const TPacketSettings& value);

  // Where the time of arrival comes from; empty: the steady clock.
  void SetClock(TClock clock);

  // Bytes as if the port had received them; the link hands its buffers in here.
  void AddData(const void* buffer, int32_t count);
  void CheckTimeout();
  std::optional<TTime> Deadline() const;
  int32_t Pending() const;
  // Discards what is held (drCleared); the port closing does the same.
  void ResetBuffer();

  TPacketEvent OnPacket;
  TDiscardEvent OnDiscard;

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
