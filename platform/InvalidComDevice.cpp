// The device behind the invalid handle. Operations on a closed port reach it and fail as the
// driver fails calls on the invalid handle.
#include "platform/ComDevice.h"

namespace platform {
namespace {

class TInvalidComDevice final : public ComDevice {
 public:
  int SetupComm(uint32_t, uint32_t) override { return kInvalidHandleError; }
  int SetCommState(const TDCB&) override { return kInvalidHandleError; }
  int SetCommTimeouts(const TCommTimeouts&) override { return kInvalidHandleError; }
  int ReadFile(void*, uint32_t, uint32_t* done, TOverlapped*) override { return Fail(done); }
  int WriteFile(const void*, uint32_t, uint32_t* done, TOverlapped*) override { return Fail(done); }
  int GetOverlappedResult(TOverlapped*, uint32_t* done, bool) override { return Fail(done); }
  int CancelIo(TOverlapped*) override { return kInvalidHandleError; }
  int ClearCommError(uint32_t*, TComStat*) override { return kInvalidHandleError; }
  int PurgeComm(uint32_t) override { return kInvalidHandleError; }
  int EscapeCommFunction(uint32_t) override { return kInvalidHandleError; }
  int GetCommModemStatus(uint32_t*) override { return kInvalidHandleError; }
  int TransmitCommChar(char) override { return kInvalidHandleError; }
  int SetCommMask(uint32_t) override { return kInvalidHandleError; }
  int WaitCommEvent(uint32_t*, TOverlapped*) override { return kInvalidHandleError; }

 private:
  static int Fail(uint32_t* done) {
    if (done) *done = 0;
    return kInvalidHandleError;
  }
};

}  // namespace

ComDevice& InvalidComDevice() {
  static TInvalidComDevice device;
  return device;
}

}  // namespace platform
