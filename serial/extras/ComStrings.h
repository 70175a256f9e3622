#pragma once
/// \file
/// Text forms of the port's setting values, as a user reads and types them: bit rates as their
/// number ("19200", "Custom"), data bits "5" to "8", stop bits "1", "1.5", "2", the others by the
/// name of the member without its prefix ("Even", "Toggle", "RxChar"). A set of events is its
/// members' texts joined by ", ". Reading back ignores case and surrounding blanks.
///
/// A member outside its enumeration has no text and gives "". A text that names no value raises
/// EComConvert.

#include <stdexcept>
#include <string>
#include <string_view>

#include "../ComSettings.h"
#include "../../platform/Export.h"

namespace serial {

/// A text that names no value of a setting: what was read and what was refused.
class VALTREX_API EComConvert : public std::invalid_argument {
 public:
  /// `setting` names what was read ("bit rate", or a stored key), `text` the text refused.
  EComConvert(std::string setting, std::string text);
  /// With a message of its own, for a text refused for a part of it.
  EComConvert(std::string setting, std::string text, const std::string& message);

  /// What was read: the setting's name, or the stored key.
  const std::string& Setting() const { return setting_; }
  /// The text refused, as it came.
  const std::string& Text() const { return text_; }

 private:
  std::string setting_;
  std::string text_;
};

/// A bit rate's text: its number, "Custom" for brCustom.
VALTREX_API std::string BaudRateToStr(TBaudRate value);
/// The bit rate a text names, by number or "Custom".
VALTREX_API TBaudRate StrToBaudRate(std::string_view text);
/// Data bits as "5" to "8".
VALTREX_API std::string DataBitsToStr(TDataBits value);
/// The data bits a text names, "5" to "8".
VALTREX_API TDataBits StrToDataBits(std::string_view text);
/// Stop bits as "1", "1.5" or "2".
VALTREX_API std::string StopBitsToStr(TStopBits value);
/// The stop bits a text names, "1", "1.5" or "2".
VALTREX_API TStopBits StrToStopBits(std::string_view text);
/// A parity's text: "None", "Odd", "Even", "Mark", "Space".
VALTREX_API std::string ParityToStr(TParityBits value);
/// The parity a text names.
VALTREX_API TParityBits StrToParity(std::string_view text);
/// A flow control preset's text: "Hardware", "Software", "None", "Custom".
VALTREX_API std::string FlowControlToStr(TFlowControl value);
/// The flow control preset a text names.
VALTREX_API TFlowControl StrToFlowControl(std::string_view text);
/// A DTR mode's text: "Disable", "Enable", "Handshake".
VALTREX_API std::string DTRToStr(TDTRFlowControl value);
/// The DTR mode a text names.
VALTREX_API TDTRFlowControl StrToDTR(std::string_view text);
/// An RTS mode's text: "Disable", "Enable", "Handshake", "Toggle".
VALTREX_API std::string RTSToStr(TRTSFlowControl value);
/// The RTS mode a text names.
VALTREX_API TRTSFlowControl StrToRTS(std::string_view text);
/// A delivery method's text: "Thread", "Window", "None".
VALTREX_API std::string SyncMethodToStr(TSyncMethod value);
/// The delivery method a text names.
VALTREX_API TSyncMethod StrToSyncMethod(std::string_view text);
/// A thread priority's text, "Idle" to "TimeCritical".
VALTREX_API std::string ThreadPriorityToStr(TThreadPriority value);
/// The thread priority a text names.
VALTREX_API TThreadPriority StrToThreadPriority(std::string_view text);
/// An event's text, "RxChar" to "Rx80Full".
VALTREX_API std::string EventToStr(TComEvent value);
/// The event a text names.
VALTREX_API TComEvent StrToEvent(std::string_view text);
/// Members in their order; the empty set is "". Empty items between commas are skipped.
VALTREX_API std::string EventsToStr(TComEvents value);
/// The set of events a list of their texts names, ", " or "," between them.
VALTREX_API TComEvents StrToEvents(std::string_view text);

/// Comparison of texts as the parsers make it: ASCII case folded.
VALTREX_API bool SameText(std::string_view a, std::string_view b);
/// The text without leading and trailing blanks (spaces, tabs, line ends).
VALTREX_API std::string_view TrimText(std::string_view text);

}  // namespace serial
