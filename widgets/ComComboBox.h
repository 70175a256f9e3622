#pragma once
/// \file
/// A drop-down list bound to one setting of a port. Choosing an item sets the port's setting, so
/// an open port applies it at once; a value the port refuses goes to OnError and the box shows
/// the port's value again. A setting changed in code shows at once.
///
/// Bound to csPort the box is editable: it lists the ports of this machine, read each time the
/// list drops down (never in the background), each with what is known of it as tool tip, and a
/// name typed into it is taken as it is when editing ends.

#include <QComboBox>
#include <functional>
#include <vector>

#include "../serial/extras/ComPortInfo.h"
#include "ComSetting.h"
#include "../platform/Export.h"

namespace serial {
class TCustomComPort;
class EComPort;
}  // namespace serial

namespace widgets {

/// A drop-down list of one setting's values, bound to a port; see the file's description.
class VALTREX_API TComComboBox : public QComboBox {
 public:
  /// What gives the list of ports for csPort.
  using TPortLister = std::function<std::vector<serial::TComPortInfo>()>;
  /// A choice the port refused, with its failure.
  using TErrorEvent = std::function<void(TComComboBox& sender, const serial::EComPort& error)>;

  /// A box of bit rates, bound to no port.
  explicit TComComboBox(QWidget* parent = nullptr);
  /// Unbinds from its port, which must still exist.
  ~TComComboBox() override;
  TComComboBox(const TComComboBox&) = delete;
  TComComboBox& operator=(const TComComboBox&) = delete;

  /// The port the box is bound to; null while there is none.
  serial::TCustomComPort* ComPort() const { return binding_.ComPort(); }
  /// Binds the box to `port` (null: none) and shows its value.
  void SetComPort(serial::TCustomComPort* port);
  /// The setting the box shows and sets.
  TComSettingKind ComSetting() const { return binding_.Kind(); }
  /// Binds the box to another setting, its list refilled with that setting's values.
  void SetComSetting(TComSettingKind kind);
  /// Where csPort gets its list; empty: serial::EnumComPorts().
  void SetPortLister(TPortLister lister);

  /// A refusal by the port. Unassigned, it goes to the application's exception handler.
  TErrorEvent OnError;

  /// Reads the ports of this machine first when bound to csPort, then drops the list down.
  void showPopup() override;

 private:
  void Fill();
  void ListPorts();
  void Show();
  void Choose(const QString& text);

  TComSettingBinding binding_;
  TPortLister lister_;
};

}  // namespace widgets
