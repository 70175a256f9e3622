#include "serial/ComError.h"

#include "platform/ComDevice.h"

namespace serial {
namespace {

constexpr const char* kMessages[ecode::kCount] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string MakeMessage(int32_t code, int32_t systemErrorCode, const std::string& detail) {
  std::string message = ComErrorText(code);
  if (systemErrorCode != -1) {
    message += " (" + platform::SystemErrorText(systemErrorCode) + ")";
  }
  if (!detail.empty()) message += ": " + detail;
  return message;
}

}  // namespace

const char* ComErrorText(int32_t code) {
  return code >= 1 && code <= ecode::kCount ? kMessages[code - 1] : "";
}

EComPort::EComPort(int32_t code, int32_t systemErrorCode, const std::string& detail)
    : code_(code),
      systemErrorCode_(systemErrorCode),
      message_(MakeMessage(code, systemErrorCode, detail)) {}

void RaiseComError(int32_t code, int32_t systemErrorCode, const std::string& detail) {
  throw EComPort(code, systemErrorCode, detail);
}

}  // namespace serial
