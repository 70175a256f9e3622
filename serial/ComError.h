#pragma once
// The serial component's one failure: EComPort, carrying a code into the component's message
// table and the platform's error value when one is known.

#include <cstdint>
#include <exception>
#include <string>
#include "../platform/Export.h"

namespace serial {

// Codes into the message table (1 to 23).
namespace ecode {
inline constexpr int32_t kOpen = 1;
inline constexpr int32_t kWriteFile = 2;
inline constexpr int32_t kReadFile = 3;
inline constexpr int32_t kInvalidAsync = 4;
inline constexpr int32_t kPurgeComm = 5;
inline constexpr int32_t kAsyncStatus = 6;
inline constexpr int32_t kSetCommState = 7;
inline constexpr int32_t kSetCommTimeouts = 8;
inline constexpr int32_t kSetupComm = 9;
inline constexpr int32_t kClearCommError = 10;
inline constexpr int32_t kModemStatus = 11;
inline constexpr int32_t kEscapeComm = 12;
inline constexpr int32_t kTransmitChar = 13;
inline constexpr int32_t kWhileConnected = 14;
inline constexpr int32_t kEnumPorts = 15;
inline constexpr int32_t kStoreSettings = 16;
inline constexpr int32_t kLoadSettings = 17;
inline constexpr int32_t kLinkRegistration = 18;
inline constexpr int32_t kLedState = 19;
inline constexpr int32_t kThreadCreated = 20;
inline constexpr int32_t kWaitForEvent = 21;
inline constexpr int32_t kRxBufLinked = 22;
inline constexpr int32_t kRegistry = 23;
inline constexpr int32_t kCount = 23;
}  // namespace ecode

// The table text of a code; empty for a code outside the table.
VALTREX_API const char* ComErrorText(int32_t code);

class VALTREX_API EComPort : public std::exception {
 public:
  // systemErrorCode -1: no platform error is known, and the message is the table text alone.
  // A detail (what failed, on what) follows the rest after ": ", so the message still starts
  // with what it would be without one.
  explicit EComPort(int32_t code, int32_t systemErrorCode = -1, const std::string& detail = {});

  int32_t ErrorCode() const { return code_; }
  int32_t SystemErrorCode() const { return systemErrorCode_; }
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  int32_t code_;
  int32_t systemErrorCode_;
  std::string message_;
};

[[noreturn]] VALTREX_API void RaiseComError(int32_t code, int32_t systemErrorCode = -1,
                                const std::string& detail = {});

}  // namespace serial
