#pragma once
/// \file
/// A listener on a port: the port calls the assigned slots of every registered link. The port
/// neither owns nor frees its links.

#include <cstdint>
#include <functional>

#include "ComSettings.h"
#include "../platform/Export.h"

namespace serial {

class TCustomComPort;

/// Handlers take the port that raises them first; an empty handler is not assigned.
///
/// An event without values.
using TNotifyEvent = std::function<void(TCustomComPort& sender)>;
/// Bytes wait in the driver: their count, none of them read yet.
using TRxCharEvent = std::function<void(TCustomComPort& sender, int32_t count)>;
/// Bytes that went through the port; valid during the call only.
using TRxBufEvent = std::function<void(TCustomComPort& sender, const void* buffer, int32_t count)>;
/// Line errors the driver reported.
using TComErrorEvent = std::function<void(TCustomComPort& sender, TComErrors errors)>;
/// A line or state that went on (true) or off.
using TComSignalEvent = std::function<void(TCustomComPort& sender, bool onOff)>;

/// The slots a port calls on each registered link, on the thread its sync method delivers on
/// (OnSettingsChange aside); an empty slot is skipped. Lamps, selectors, terminals and packet
/// assemblers listen to a port this way.
struct VALTREX_API TComLink {
  TComSignalEvent OnConn;        ///< leConn: true after open, false after close
  TRxBufEvent OnRxBuf;           ///< received bytes; assigned, it makes the port read for it
  TRxBufEvent OnTxBuf;           ///< bytes of a completed asynchronous write
  TNotifyEvent OnTxEmpty;        ///< leTxEmpty
  TNotifyEvent OnRxFlag;         ///< leRxFlag
  TComSignalEvent OnCTSChange;   ///< leCTS
  TComSignalEvent OnDSRChange;   ///< leDSR
  TComSignalEvent OnRLSDChange;  ///< leRLSD
  TNotifyEvent OnRing;           ///< leRing
  TComSignalEvent OnTx;          ///< leTx: true when a write is issued, false on transmit-empty
  TComSignalEvent OnRx;          ///< leRx: true when bytes wait, false when a read left none
  /// A setting of the port has a new value (stored; applied or not). Between BeginUpdate and
  /// EndUpdate the changes are told once, by the EndUpdate that ends the hold. Called on the
  /// thread that changed the setting, before the port hands the value to the driver.
  TNotifyEvent OnSettingsChange;
};

}  // namespace serial
