#pragma once
// A drop-down list bound to one setting of a port. Choosing an item sets the port's setting, so
// an open port applies it at once; a value the port refuses goes to OnError and the box shows
// the port's value again. A setting changed in code shows at once.
//
// Bound to csPort the box is editable: it lists the ports of this machine, read each time the
// list drops down (never in the background), each with what is known of it as tool tip, and a
// name typed into it is taken as it is when editing ends.

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

class VALTREX_API TComComboBox : public QComboBox {
 public:
  using TPortLister = std::function<std::vector<serial::TComPortInfo>()>;
  using TErrorEvent = std::function<void(TComComboBox& sender, const serial::EComPort& error)>;

  explicit TComComboBox(QWidget* parent = nullptr);
  // Unbinds from its port, which must still exist.
  ~TComComboBox() override;
  TComComboBox(const TComComboBox&) = delete;
  TComComboBox& operator=(const TComComboBox&) = delete;

  serial::TCustomComPort* ComPort() const { return binding_.ComPort(); }
  void SetComPort(serial::TCustomComPort* port);
  TComSettingKind ComSetting() const { return binding_.Kind(); }
  void SetComSetting(TComSettingKind kind);
  // Where csPort gets its list; empty: serial::EnumComPorts().
  void SetPortLister(TPortLister lister);

  // A refusal by the port. Unassigned, it goes to the application's exception handler.
  TErrorEvent OnError;

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
