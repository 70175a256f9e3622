#pragma once
// Text forms of the port's setting values, as a user reads and types them: bit rates as their
// number ("19200", "Custom"), data bits "5" to "8", stop bits "1", "1.5", "2", the others by the
// name of the member without its prefix ("Even", "Toggle", "RxChar"). A set of events is its
// members' texts joined by ", ". Reading back ignores case and surrounding blanks.
//
// A member outside its enumeration has no text and gives "". A text that names no value raises
// EComConvert.

#include <stdexcept>
#include <string>
#include <string_view>

#include "../ComSettings.h"
#include "../../platform/Export.h"

namespace serial {

class VALTREX_API EComConvert : public std::invalid_argument {
 public:
  // `setting` names what was read ("bit rate", or a stored key), `text` the text refused.
  EComConvert(std::string setting, std::string text);
  // With a message of its own, for a text refused for a part of it.
  EComConvert(std::string setting, std::string text, const std::string& message);

  const std::string& Setting() const { return setting_; }
  const std::string& Text() const { return text_; }

 private:
  std::string setting_;
  std::string text_;
};

VALTREX_API std::string BaudRateToStr(TBaudRate value);
VALTREX_API TBaudRate StrToBaudRate(std::string_view text);
VALTREX_API std::string DataBitsToStr(TDataBits value);
VALTREX_API TDataBits StrToDataBits(std::string_view text);
VALTREX_API std::string StopBitsToStr(TStopBits value);
VALTREX_API TStopBits StrToStopBits(std::string_view text);
VALTREX_API std::string ParityToStr(TParityBits value);
VALTREX_API TParityBits StrToParity(std::string_view text);
VALTREX_API std::string FlowControlToStr(TFlowControl value);
VALTREX_API TFlowControl StrToFlowControl(std::string_view text);
VALTREX_API std::string DTRToStr(TDTRFlowControl value);
VALTREX_API TDTRFlowControl StrToDTR(std::string_view text);
VALTREX_API std::string RTSToStr(TRTSFlowControl value);
VALTREX_API TRTSFlowControl StrToRTS(std::string_view text);
VALTREX_API std::string SyncMethodToStr(TSyncMethod value);
VALTREX_API TSyncMethod StrToSyncMethod(std::string_view text);
VALTREX_API std::string ThreadPriorityToStr(TThreadPriority value);
VALTREX_API TThreadPriority StrToThreadPriority(std::string_view text);
VALTREX_API std::string EventToStr(TComEvent value);
VALTREX_API TComEvent StrToEvent(std::string_view text);
// Members in their order; the empty set is "". Empty items between commas are skipped.
VALTREX_API std::string EventsToStr(TComEvents value);
VALTREX_API TComEvents StrToEvents(std::string_view text);

// Comparison of texts as the parsers make it: ASCII case folded.
VALTREX_API bool SameText(std::string_view a, std::string_view b);
// The text without leading and trailing blanks (spaces, tabs, line ends).
VALTREX_API std::string_view TrimText(std::string_view text);

}  // namespace serial
