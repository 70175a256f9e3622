#pragma once
// The setup dialogs of a port: one for the line (port, bit rate with a custom rate, data bits,
// parity, stop bits, flow control), one for the rest (time-outs, buffer sizes, event character,
// discarding NUL, the events watched, the delivery method and the event thread's priority).
//
// Each edits a copy of the port's settings and gives the port nothing until OK, which hands it
// the whole copy in one update, so Cancel leaves the port as it was. A value the port refuses
// puts the port back as it was, shows the port's message in the dialog and keeps it open.

#include <QDialog>
#include <QString>
#include <array>

#include "../serial/extras/PortSettings.h"
#include "../platform/Export.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QVBoxLayout;

namespace serial {
class TCustomComPort;
}

namespace widgets {

class TComComboBox;

class VALTREX_API TComSettingsDialog : public QDialog {
 public:
  serial::TCustomComPort& ComPort() const { return port_; }
  // The refusal shown in the dialog; empty while there is none.
  QString ErrorText() const;
  // Applies the edited settings; closes only when the port took them.
  void accept() override;

 protected:
  TComSettingsDialog(serial::TCustomComPort& port, const QString& title, QWidget* parent);
  // Where the controls go, above the message and the buttons.
  QVBoxLayout* Body() const { return body_; }
  // The settings as the port holds them when the dialog opened, for the controls to start from.
  const serial::TComPortSettings& Start() const { return start_; }
  // The controls' values over `settings`.
  virtual void Collect(serial::TComPortSettings& settings) const = 0;

 private:
  serial::TCustomComPort& port_;
  serial::TComPortSettings start_;
  QVBoxLayout* body_;
  QLabel* error_;
};

class VALTREX_API TComSetupDialog : public TComSettingsDialog {
 public:
  explicit TComSetupDialog(serial::TCustomComPort& port, QWidget* parent = nullptr);

  TComComboBox& PortBox() const { return *portBox_; }
  TComComboBox& RateBox() const { return *rate_; }
  // The rate used while RateBox shows "Custom"; enabled only then.
  QSpinBox& CustomRateEdit() const { return *customRate_; }
  TComComboBox& DataBitsBox() const { return *dataBits_; }
  TComComboBox& ParityBox() const { return *parity_; }
  TComComboBox& StopBitsBox() const { return *stopBits_; }
  TComComboBox& FlowControlBox() const { return *flow_; }

 protected:
  void Collect(serial::TComPortSettings& settings) const override;

 private:
  TComComboBox* portBox_;
  TComComboBox* rate_;
  QSpinBox* customRate_;
  TComComboBox* dataBits_;
  TComComboBox* parity_;
  TComComboBox* stopBits_;
  TComComboBox* flow_;
};

class VALTREX_API TComAdvancedDialog : public TComSettingsDialog {
 public:
  explicit TComAdvancedDialog(serial::TCustomComPort& port, QWidget* parent = nullptr);

  // ReadInterval, ReadTotalMultiplier, ReadTotalConstant, WriteTotalMultiplier,
  // WriteTotalConstant; -1 stands for the driver's maximum.
  QSpinBox& TimeoutEdit(int index) const { return *timeouts_.at(static_cast<size_t>(index)); }
  QSpinBox& InputSizeEdit() const { return *inputSize_; }
  QSpinBox& OutputSizeEdit() const { return *outputSize_; }
  // The event character by its code, 0 to 255.
  QSpinBox& EventCharEdit() const { return *eventChar_; }
  QCheckBox& DiscardNullBox() const { return *discardNull_; }
  QCheckBox& EventBox(serial::TComEvent event) const { return *events_.at(event); }
  QComboBox& SyncMethodBox() const { return *syncMethod_; }
  QComboBox& PriorityBox() const { return *priority_; }

 protected:
  void Collect(serial::TComPortSettings& settings) const override;

 private:
  std::array<QSpinBox*, 5> timeouts_{};
  QSpinBox* inputSize_;
  QSpinBox* outputSize_;
  QSpinBox* eventChar_;
  QCheckBox* discardNull_;
  std::array<QCheckBox*, 10> events_{};
  QComboBox* syncMethod_;
  QComboBox* priority_;
};

}  // namespace widgets
