#pragma once
/// \file
/// The serial component's one failure: EComPort, carrying a code into the component's message
/// table and the platform's error value when one is known.

#include <cstdint>
#include <exception>
#include <string>
#include "../platform/Export.h"

namespace serial {

/// Codes into the message table (1 to 23).
namespace ecode {
inline constexpr int32_t kOpen = 1;              ///< the device could not be opened
inline constexpr int32_t kWriteFile = 2;         ///< a write failed
inline constexpr int32_t kReadFile = 3;          ///< a read failed
inline constexpr int32_t kInvalidAsync = 4;      ///< a transfer record null or still in use
inline constexpr int32_t kPurgeComm = 5;         ///< ending transfers or emptying queues failed
inline constexpr int32_t kAsyncStatus = 6;       ///< a transfer's status could not be read
inline constexpr int32_t kSetCommState = 7;      ///< the driver refused the line settings
inline constexpr int32_t kSetCommTimeouts = 8;   ///< the driver refused the time-outs
inline constexpr int32_t kSetupComm = 9;         ///< the driver refused the queue sizes
inline constexpr int32_t kClearCommError = 10;   ///< the driver's status could not be read
inline constexpr int32_t kModemStatus = 11;      ///< the modem lines could not be read
/// A line (DTR, RTS, break, XON/XOFF) could not be set.
inline constexpr int32_t kEscapeComm = 12;
inline constexpr int32_t kTransmitChar = 13;     ///< a character could not be sent ahead
/// A setting that cannot change while the port is open.
inline constexpr int32_t kWhileConnected = 14;
inline constexpr int32_t kEnumPorts = 15;        ///< the system's list of ports could not be read
inline constexpr int32_t kStoreSettings = 16;    ///< the settings could not be stored
inline constexpr int32_t kLoadSettings = 17;     ///< the settings could not be loaded
/// A link that is null, registered twice, or removed while not registered.
inline constexpr int32_t kLinkRegistration = 18;
inline constexpr int32_t kLedState = 19;         ///< a lamp bound to a port was set by hand
inline constexpr int32_t kThreadCreated = 20;    ///< a wait by hand while the event thread runs
inline constexpr int32_t kWaitForEvent = 21;     ///< waiting for line events failed
/// TriggersOnRxChar set while a link listens for received buffers.
inline constexpr int32_t kRxBufLinked = 22;
inline constexpr int32_t kRegistry = 23;         ///< reading or writing the registry failed
inline constexpr int32_t kCount = 23;            ///< the highest code of the table
}  // namespace ecode

/// The table text of a code; empty for a code outside the table.
VALTREX_API const char* ComErrorText(int32_t code);

/// What the serial component raises for every failure: a code into the message table (namespace
/// ecode), the platform's error value where one is known, and the message made of both.
class VALTREX_API EComPort : public std::exception {
 public:
  /// systemErrorCode -1: no platform error is known, and the message is the table text alone.
  /// A detail (what failed, on what) follows the rest after ": ", so the message still starts
  /// with what it would be without one.
  explicit EComPort(int32_t code, int32_t systemErrorCode = -1, const std::string& detail = {});

  /// The code into the message table, one of namespace ecode.
  int32_t ErrorCode() const { return code_; }
  /// The platform's error value (errno's on Linux), or -1 when none is known. The message shows
  /// it as the system names it: "(system error N: text)" on Linux, "(win error code: N)" on
  /// Windows.
  int32_t SystemErrorCode() const { return systemErrorCode_; }
  /// The whole message, as what() gives it.
  const std::string& Message() const { return message_; }
  /// The whole message.
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  int32_t code_;
  int32_t systemErrorCode_;
  std::string message_;
};

/// Raises the EComPort of the code, the platform's error value and the detail.
[[noreturn]] VALTREX_API void RaiseComError(int32_t code, int32_t systemErrorCode = -1,
                                const std::string& detail = {});

}  // namespace serial
