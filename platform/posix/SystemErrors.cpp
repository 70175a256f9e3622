// The system error values are errno's; the two states of an overlapped operation borrow the
// values errno has for an operation in progress and one already under way.
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ComDevice.h"

namespace platform {

const int kIoPending = EINPROGRESS;
const int kIoIncomplete = EALREADY;
const int kOperationAborted = ECANCELED;
const int kInvalidHandleError = EBADF;

int LastSystemError() {
  return errno;
}

std::string SystemErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r: it gives either the buffer or a text of its own.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return "system error " + std::to_string(error) + ": " + text;
}

}  // namespace platform
