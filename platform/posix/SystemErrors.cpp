// The system error values are errno's; the two states of an overlapped operation borrow the
// values errno has for an operation in progress and one already under way.
#include <cerrno>

#include "platform/ComDevice.h"

namespace platform {

const int kIoPending = EINPROGRESS;
const int kIoIncomplete = EALREADY;
const int kOperationAborted = ECANCELED;
const int kInvalidHandleError = EBADF;

int LastSystemError() {
  return errno;
}

}  // namespace platform
