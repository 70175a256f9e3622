// The system error values the seam's callers meet by name are the comm driver's own.
#include <string>

#include "platform/ComDevice.h"
#include "platform/win32/Windows.h"

namespace platform {

const int kIoPending = ERROR_IO_PENDING;
const int kIoIncomplete = ERROR_IO_INCOMPLETE;
const int kOperationAborted = ERROR_OPERATION_ABORTED;
const int kInvalidHandleError = ERROR_INVALID_HANDLE;

int LastSystemError() {
  return static_cast<int>(GetLastError());
}

std::string SystemErrorText(int error) {
  return "win error code: " + std::to_string(error);
}

}  // namespace platform
