#pragma once
/// \file
/// Every setting of a port as one plain value, taken from a port and given back to one as a
/// whole, and its stored form: one key per setting with the value's text.

#include <cstdint>
#include <string>

#include "../ComPort.h"
#include "../ComSettings.h"
#include "IniDocument.h"
#include "../../platform/Export.h"

namespace serial {

/// A default value holds the settings of a new port.
struct VALTREX_API TComPortSettings {
  std::string Port = "COM1";                      ///< TCustomComPort::Port()
  TBaudRate BaudRate = br9600;                    ///< TCustomComPort::BaudRate()
  int32_t CustomBaudRate = 9600;                  ///< TCustomComPort::CustomBaudRate()
  TDataBits DataBits = dbEight;                   ///< TCustomComPort::DataBits()
  TStopBits StopBits = sbOneStopBit;              ///< TCustomComPort::StopBits()
  TComParity Parity;                              ///< a free copy, with no owner
  TComFlowControl FlowControl;                    ///< a free copy, with no owner
  TComTimeouts Timeouts;                          ///< a free copy, with no owner
  TComBuffer Buffer;                              ///< a free copy, with no owner
  char EventChar = 0;                             ///< TCustomComPort::EventChar()
  bool DiscardNull = false;                       ///< TCustomComPort::DiscardNull()
  TComEvents Events = kAllComEvents;              ///< TCustomComPort::Events
  TSyncMethod SyncMethod = smThreadSync;          ///< TCustomComPort::SyncMethod()
  TThreadPriority EventThreadPriority = tpNormal; ///< TCustomComPort::EventThreadPriority()
  bool TriggersOnRxChar = true;                   ///< TCustomComPort::TriggersOnRxChar()

  /// Whether every setting is the same, the setting objects compared field by field.
  friend VALTREX_API bool operator==(const TComPortSettings& a, const TComPortSettings& b);
};

/// Every setting the port holds now.
VALTREX_API TComPortSettings GetPortSettings(const TCustomComPort& port);

/// Gives the port all of them at once: an open port gets its line configured once, and a new
/// name, set last, reopens it on that name with the rest in place. Settings the port refuses
/// (sync method or thread priority while open, TriggersOnRxChar while a link listens for
/// buffers) raise EComPort before anything has changed.
VALTREX_API void SetPortSettings(TCustomComPort& port, const TComPortSettings& settings);

/// Every setting as key and text, in a fixed order. Characters are their code, 0 to 255.
VALTREX_API TSettingValues PortSettingsToValues(const TComPortSettings& settings);
/// Reads the keys it knows (ignoring case) over `settings`; a key not there keeps its setting
/// and an unknown key is ignored. A value that does not read raises EComConvert, whose
/// Setting() is the key, and leaves `settings` as it was.
VALTREX_API void ValuesToPortSettings(const TSettingValues& values, TComPortSettings& settings);

}  // namespace serial
