// The device behind the invalid handle. Operations on a closed port reach it and fail with
// EBADF, as the driver fails calls on INVALID_HANDLE_VALUE.
#include <cerrno>

#include "platform/ComDevice.h"

namespace platform {
namespace {

class TInvalidComDevice final : public ComDevice {
 public:
  int SetupComm(uint32_t, uint32_t) override { return EBADF; }
  int SetCommState(const TDCB&) override { return EBADF; }
  int SetCommTimeouts(const TCommTimeouts&) override { return EBADF; }
  int ReadFile(void*, uint32_t, uint32_t* done, TOverlapped*) override { return Fail(done); }
  int WriteFile(const void*, uint32_t, uint32_t* done, TOverlapped*) override { return Fail(done); }
  int GetOverlappedResult(TOverlapped*, uint32_t* done, bool) override { return Fail(done); }
  int CancelIo(TOverlapped*) override { return EBADF; }
  int ClearCommError(uint32_t*, TComStat*) override { return EBADF; }
  int PurgeComm(uint32_t) override { return EBADF; }
  int EscapeCommFunction(uint32_t) override { return EBADF; }
  int GetCommModemStatus(uint32_t*) override { return EBADF; }
  int TransmitCommChar(char) override { return EBADF; }
  int SetCommMask(uint32_t) override { return EBADF; }
  int WaitCommEvent(uint32_t*, TOverlapped*) override { return EBADF; }

 private:
  static int Fail(uint32_t* done) {
    if (done) *done = 0;
    return EBADF;
  }
};

}  // namespace

ComDevice& InvalidComDevice() {
  static TInvalidComDevice device;
  return device;
}

}  // namespace platform
