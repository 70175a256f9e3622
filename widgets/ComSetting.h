#pragma once
/// \file
/// One line setting of a port as a selector shows it: the texts of the values it can take, the
/// port's value as text, and a binding that keeps a selector on its port. The binding hears of
/// every change of the port's settings through a link, so a value set in code shows at once, and
/// takes a refused choice back, so that what the selector shows is what the port holds.

#include <functional>
#include <string>
#include <vector>

#include "../serial/ComLink.h"
#include "../platform/Export.h"

namespace serial {
class TCustomComPort;
class EComPort;
}  // namespace serial

namespace widgets {

/// The port's setting a selector is bound to.
enum TComSettingKind {
  csPort,        ///< the device's name; its values come from the system's list of ports
  csBaudRate,    ///< the bit rate
  csDataBits,    ///< the data bits
  csStopBits,    ///< the stop bits
  csParity,      ///< the parity bit
  csFlowControl  ///< the flow control preset
};

/// The texts of every value the setting takes, in the order a selector offers them: the bit rates
/// from the lowest, "Custom" last. None for csPort: port names come from the system's list.
VALTREX_API std::vector<std::string> ComSettingItems(TComSettingKind kind);

/// The port's value of the setting as text.
VALTREX_API std::string ComSettingText(const serial::TCustomComPort& port, TComSettingKind kind);

/// Reads the text (serial::EComConvert when it names no value of the setting) and sets it on the
/// port, which may refuse it with EComPort.
VALTREX_API void SetComSettingText(serial::TCustomComPort& port, TComSettingKind kind, const std::string& text);

/// What keeps a selector on one setting of its port: the link that hears of changes, and the
/// choice that is taken back when the port refuses it. TComComboBox and TComRadioGroup hold one.
class VALTREX_API TComSettingBinding {
 public:
  /// A choice the port refused, with its failure.
  using TRefusedEvent = std::function<void(const serial::EComPort& error)>;

  /// `show` runs whenever what the selector shows is out of date: a new port or setting, a change
  /// of the port's value of the setting, and a choice the port refused. Other settings changing
  /// leave the selector alone, so that a name being typed is not written over.
  explicit TComSettingBinding(std::function<void()> show);
  /// Unregisters from the port, which must still exist.
  ~TComSettingBinding();
  TComSettingBinding(const TComSettingBinding&) = delete;
  TComSettingBinding& operator=(const TComSettingBinding&) = delete;

  /// The port the binding listens to; null while there is none.
  serial::TCustomComPort* ComPort() const { return port_; }
  /// Moves the binding's link to `port` (null: none); the selector is told to show it.
  void SetComPort(serial::TCustomComPort* port);
  /// The setting bound; csBaudRate by default.
  TComSettingKind Kind() const { return kind_; }
  /// Binds another setting; the selector is told to show it.
  void SetKind(TComSettingKind kind);

  /// The port's value as text; "" without a port.
  std::string Text() const;

  /// Gives the port the value. When the port refuses it (EComPort), the value the port held
  /// before is given back to it, the refusal goes to `refused`, and the result is false. A text
  /// that names no value of the setting raises EComConvert, with nothing changed.
  bool Select(const std::string& text, const TRefusedEvent& refused);

 private:
  void Show();

  std::function<void()> show_;
  std::string shown_;  // the port's value when the selector was last told
  serial::TCustomComPort* port_ = nullptr;
  TComSettingKind kind_ = csBaudRate;
  serial::TComLink link_;
};

}  // namespace widgets
