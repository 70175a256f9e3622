#pragma once
/// \file
/// The record of one overlapped read or write. Whoever calls InitAsync owns it (by unique_ptr)
/// and hands it back to DoneAsync; the device writes into Overlapped until the operation ends.

#include <cstdint>
#include <memory>

#include "../platform/ComDevice.h"
#include "../platform/Sync.h"
#include "../platform/Export.h"

namespace serial {

/// What a record's operation does; WaitForAsync raises the read or the write error by it.
enum TOperationKind : uint8_t {
  okWrite,  ///< a write of the record's copy of the caller's bytes
  okRead    ///< a read into the caller's buffer
};

/// One overlapped transfer's record: its completion event, the device's status words and, for a
/// write, the bytes in flight. Not copyable: the device holds its address.
struct VALTREX_API TAsync {
  /// The completion event is manual-reset and starts signalled, so a record no operation used
  /// reads as finished.
  TAsync();
  TAsync(const TAsync&) = delete;
  TAsync& operator=(const TAsync&) = delete;

  /// True while the device still works on the record (and on the buffer it was given).
  bool Running() const { return Overlapped.Internal.load() == platform::kIoPending; }

  platform::TEvent Event;            ///< set when the operation completes
  platform::TOverlapped Overlapped;  ///< what the device writes the status and count into
  TOperationKind Kind = okWrite;     ///< what the record's last operation was
  /// The write works on this private copy, so the caller's bytes may go away while it runs.
  std::unique_ptr<uint8_t[]> DataCopy;
  int32_t DataSize = 0;  ///< bytes in DataCopy
};

}  // namespace serial
