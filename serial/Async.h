#pragma once
// The record of one overlapped read or write. Whoever calls InitAsync owns it (by unique_ptr)
// and hands it back to DoneAsync; the device writes into Overlapped until the operation ends.

#include <cstdint>
#include <memory>

#include "../platform/ComDevice.h"
#include "../platform/Sync.h"
#include "../platform/Export.h"

namespace serial {

enum TOperationKind : uint8_t { okWrite, okRead };

struct VALTREX_API TAsync {
  // The completion event is manual-reset and starts signalled, so a record no operation used
  // reads as finished.
  TAsync();
  TAsync(const TAsync&) = delete;
  TAsync& operator=(const TAsync&) = delete;

  // True while the device still works on the record (and on the buffer it was given).
  bool Running() const { return Overlapped.Internal.load() == platform::kIoPending; }

  platform::TEvent Event;
  platform::TOverlapped Overlapped;
  TOperationKind Kind = okWrite;
  // The write works on this private copy, so the caller's bytes may go away while it runs.
  std::unique_ptr<uint8_t[]> DataCopy;
  int32_t DataSize = 0;
};

}  // namespace serial
