#pragma once
/// \file
/// The setup dialogs of a port: one for the line (port, bit rate with a custom rate, data bits,
/// parity, stop bits, flow control), one for the rest (time-outs, buffer sizes, event character,
/// discarding NUL, the events watched, the delivery method and the event thread's priority).
///
/// Each edits a copy of the port's settings and gives the port nothing until OK, which hands it
/// the whole copy in one update, so Cancel leaves the port as it was. A value the port refuses
/// puts the port back as it was, shows the port's message in the dialog and keeps it open.

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

/// What both setup dialogs share: the port, the copy of its settings they start from, and the
/// OK that hands the port the edited copy.
class VALTREX_API TComSettingsDialog : public QDialog {
 public:
  /// The port the dialog edits.
  serial::TCustomComPort& ComPort() const { return port_; }
  /// The refusal shown in the dialog; empty while there is none.
  QString ErrorText() const;
  /// Applies the edited settings; closes only when the port took them.
  void accept() override;

 protected:
  /// A dialog titled `title` on `port`, which must outlive it; the settings are read now.
  TComSettingsDialog(serial::TCustomComPort& port, const QString& title, QWidget* parent);
  /// Where the controls go, above the message and the buttons.
  QVBoxLayout* Body() const { return body_; }
  /// The settings as the port holds them when the dialog opened, for the controls to start from.
  const serial::TComPortSettings& Start() const { return start_; }
  /// The controls' values over `settings`.
  virtual void Collect(serial::TComPortSettings& settings) const = 0;

 private:
  serial::TCustomComPort& port_;
  serial::TComPortSettings start_;
  QVBoxLayout* body_;
  QLabel* error_;
};

/// The line's dialog: port, bit rate with a custom rate, data bits, parity, stop bits, flow
/// control. The controls are reachable for programs and tests that fill the dialog in.
class VALTREX_API TComSetupDialog : public TComSettingsDialog {
 public:
  /// The dialog on `port`, its controls showing the port's settings.
  explicit TComSetupDialog(serial::TCustomComPort& port, QWidget* parent = nullptr);

  /// The port's name, from the list of this machine's ports or typed.
  TComComboBox& PortBox() const { return *portBox_; }
  /// The bit rate, "Custom" last.
  TComComboBox& RateBox() const { return *rate_; }
  /// The rate used while RateBox shows "Custom"; enabled only then.
  QSpinBox& CustomRateEdit() const { return *customRate_; }
  /// The data bits.
  TComComboBox& DataBitsBox() const { return *dataBits_; }
  /// The parity.
  TComComboBox& ParityBox() const { return *parity_; }
  /// The stop bits.
  TComComboBox& StopBitsBox() const { return *stopBits_; }
  /// The flow control preset; a port with a combination no preset describes shows "Custom".
  TComComboBox& FlowControlBox() const { return *flow_; }

 protected:
  /// The line's controls over `settings`.
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

/// The dialog of the rest: time-outs, buffer sizes, event character, discarding NUL, the events
/// watched, the delivery method and the event thread's priority.
class VALTREX_API TComAdvancedDialog : public TComSettingsDialog {
 public:
  /// The dialog on `port`, its controls showing the port's settings.
  explicit TComAdvancedDialog(serial::TCustomComPort& port, QWidget* parent = nullptr);

  /// ReadInterval, ReadTotalMultiplier, ReadTotalConstant, WriteTotalMultiplier,
  /// WriteTotalConstant; -1 stands for the driver's maximum.
  QSpinBox& TimeoutEdit(int index) const { return *timeouts_.at(static_cast<size_t>(index)); }
  /// The input queue's size in bytes.
  QSpinBox& InputSizeEdit() const { return *inputSize_; }
  /// The output queue's size in bytes.
  QSpinBox& OutputSizeEdit() const { return *outputSize_; }
  /// The event character by its code, 0 to 255.
  QSpinBox& EventCharEdit() const { return *eventChar_; }
  /// Whether received NUL bytes are dropped.
  QCheckBox& DiscardNullBox() const { return *discardNull_; }
  /// Whether the event is watched, one box per event.
  QCheckBox& EventBox(serial::TComEvent event) const { return *events_.at(event); }
  /// The delivery method; an open port refuses a new one, and the dialog says so.
  QComboBox& SyncMethodBox() const { return *syncMethod_; }
  /// The event thread's priority; an open port refuses a new one, and the dialog says so.
  QComboBox& PriorityBox() const { return *priority_; }

 protected:
  /// The advanced controls over `settings`.
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
