#pragma once
/// \file
/// A group of radio buttons bound to one line setting of a port, one button per value (every
/// setting but the port's name). Clicking a button sets the port's setting, so an open port
/// applies it at once; a value the port refuses goes to OnError and the group shows the port's
/// value again. A setting changed in code shows at once.

#include <QButtonGroup>
#include <QGroupBox>
#include <functional>

#include "ComSetting.h"
#include "../platform/Export.h"

class QGridLayout;

namespace serial {
class TCustomComPort;
class EComPort;
}  // namespace serial

namespace widgets {

/// A group of radio buttons for one setting's values, bound to a port; see the file's
/// description.
class VALTREX_API TComRadioGroup : public QGroupBox {
 public:
  /// A choice the port refused, with its failure.
  using TErrorEvent = std::function<void(TComRadioGroup& sender, const serial::EComPort& error)>;

  /// A group of bit rates in one column, bound to no port.
  explicit TComRadioGroup(QWidget* parent = nullptr);
  /// Unbinds from its port, which must still exist.
  ~TComRadioGroup() override;
  TComRadioGroup(const TComRadioGroup&) = delete;
  TComRadioGroup& operator=(const TComRadioGroup&) = delete;

  /// The port the group is bound to; null while there is none.
  serial::TCustomComPort* ComPort() const { return binding_.ComPort(); }
  /// Binds the group to `port` (null: none) and shows its value.
  void SetComPort(serial::TCustomComPort* port);
  /// The setting the group shows and sets.
  TComSettingKind ComSetting() const { return binding_.Kind(); }
  /// csPort has no fixed values to offer: it raises std::invalid_argument.
  void SetComSetting(TComSettingKind kind);
  /// Buttons per row, 1 or more.
  int Columns() const { return columns_; }
  /// Lays the buttons out in `value` columns; less than 1 is 1.
  void SetColumns(int value);

  /// The button of a value's text, or null.
  QAbstractButton* Button(const QString& text) const;

  /// A refusal by the port. Unassigned, it goes to the application's exception handler.
  TErrorEvent OnError;

 private:
  void Fill();
  void Show();
  void Choose(int id);

  TComSettingBinding binding_;
  QButtonGroup buttons_;
  QGridLayout* grid_;
  int columns_ = 1;
};

}  // namespace widgets
