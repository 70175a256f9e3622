#include "widgets/ComSetupDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <exception>
#include <limits>

#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/extras/ComStrings.h"
#include "widgets/ComComboBox.h"

namespace widgets {
namespace {

using serial::TComPortSettings;

constexpr int kMaxInt = std::numeric_limits<int>::max();

QSpinBox* NumberEdit(int min, int max, int value, QWidget* parent) {
  auto* edit = new QSpinBox(parent);
  edit->setRange(min, max);
  edit->setValue(value);
  edit->setAccelerated(true);
  return edit;
}

// A selector that edits the dialog's copy: bound to no port, it only shows the copy's value.
TComComboBox* SettingBox(TComSettingKind kind, const std::string& value, QWidget* parent) {
  auto* box = new TComComboBox(parent);
  box->SetComSetting(kind);
  const QString text = QString::fromStdString(value);
  if (box->isEditable()) {
    box->setEditText(text);
  } else {
    box->setCurrentIndex(box->findText(text));
  }
  return box;
}

// Each field of the form is read by its label, as its buddy, never by the value it shows.
void NameByLabels(QFormLayout* form) {
  for (int row = 0; row < form->rowCount(); ++row) {
    QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
    QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
    auto* text = label ? qobject_cast<QLabel*>(label->widget()) : nullptr;
    if (!text || !field || !field->widget()) continue;
    text->setBuddy(field->widget());
    QString name = text->text().remove(QLatin1Char('&'));
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    field->widget()->setAccessibleName(name);
  }
}

std::string Chosen(const TComComboBox& box) {
  return box.currentText().toStdString();
}

}  // namespace

// --- TComSettingsDialog

TComSettingsDialog::TComSettingsDialog(serial::TCustomComPort& port, const QString& title,
                                       QWidget* parent)
    : QDialog(parent),
      port_(port),
      start_(serial::GetPortSettings(port)),
      body_(new QVBoxLayout),
      error_(new QLabel(this)) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body_);
  error_->setWordWrap(true);
  error_->setStyleSheet(QStringLiteral("color: #b00000"));
  error_->hide();
  layout->addWidget(error_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

QString TComSettingsDialog::ErrorText() const {
  return error_->isHidden() ? QString() : error_->text();
}

void TComSettingsDialog::accept() {
  // Started from what the port holds now, not when the dialog opened: only what the dialog
  // shows is the user's to change.
  const TComPortSettings before = serial::GetPortSettings(port_);
  TComPortSettings edited = before;
  Collect(edited);
  try {
    serial::SetPortSettings(port_, edited);
  } catch (const serial::EComPort& e) {
    // The port keeps what it refused as stored; given back what it held, it holds again what
    // its driver has. Should even that fail, the first refusal is still the one to read.
    try {
      if (!(serial::GetPortSettings(port_) == before)) serial::SetPortSettings(port_, before);
    } catch (const std::exception&) {
    }
    error_->setText(QString::fromLocal8Bit(e.what()));
    error_->show();
    return;
  }
  error_->hide();
  QDialog::accept();
}

// --- TComSetupDialog

TComSetupDialog::TComSetupDialog(serial::TCustomComPort& port, QWidget* parent)
    : TComSettingsDialog(port, QStringLiteral("Port setup"), parent) {
  const TComPortSettings& s = Start();
  auto* form = new QFormLayout;
  portBox_ = SettingBox(csPort, s.Port, this);
  rate_ = SettingBox(csBaudRate, serial::BaudRateToStr(s.BaudRate), this);
  customRate_ = NumberEdit(1, kMaxInt, s.CustomBaudRate, this);
  customRate_->setSuffix(QStringLiteral(" bit/s"));
  dataBits_ = SettingBox(csDataBits, serial::DataBitsToStr(s.DataBits), this);
  parity_ = SettingBox(csParity, serial::ParityToStr(s.Parity.Bits()), this);
  stopBits_ = SettingBox(csStopBits, serial::StopBitsToStr(s.StopBits), this);
  flow_ = SettingBox(csFlowControl, serial::FlowControlToStr(s.FlowControl.FlowControl()), this);
  form->addRow(QStringLiteral("&Port:"), portBox_);
  form->addRow(QStringLiteral("&Bit rate:"), rate_);
  form->addRow(QStringLiteral("C&ustom rate:"), customRate_);
  form->addRow(QStringLiteral("&Data bits:"), dataBits_);
  form->addRow(QStringLiteral("P&arity:"), parity_);
  form->addRow(QStringLiteral("&Stop bits:"), stopBits_);
  form->addRow(QStringLiteral("&Flow control:"), flow_);
  NameByLabels(form);
  Body()->addLayout(form);

  const auto customOnly = [this] {
    customRate_->setEnabled(rate_->currentText() ==
                            QString::fromStdString(serial::BaudRateToStr(serial::brCustom)));
  };
  QObject::connect(rate_, &QComboBox::currentIndexChanged, this, customOnly);
  customOnly();
}

void TComSetupDialog::Collect(TComPortSettings& settings) const {
  settings.Port = std::string(serial::TrimText(Chosen(*portBox_)));
  settings.BaudRate = serial::StrToBaudRate(Chosen(*rate_));
  settings.CustomBaudRate = customRate_->value();
  settings.DataBits = serial::StrToDataBits(Chosen(*dataBits_));
  settings.Parity.SetBits(serial::StrToParity(Chosen(*parity_)));
  settings.StopBits = serial::StrToStopBits(Chosen(*stopBits_));
  // "Custom" keeps the fields as they are; a preset writes its own.
  const serial::TFlowControl flow = serial::StrToFlowControl(Chosen(*flow_));
  if (flow != settings.FlowControl.FlowControl()) settings.FlowControl.SetFlowControl(flow);
}

// --- TComAdvancedDialog

TComAdvancedDialog::TComAdvancedDialog(serial::TCustomComPort& port, QWidget* parent)
    : TComSettingsDialog(port, QStringLiteral("Advanced port settings"), parent) {
  const TComPortSettings& s = Start();

  auto* timeouts = new QGroupBox(QStringLiteral("Time-outs (ms, -1: the driver's maximum)"), this);
  auto* timeoutForm = new QFormLayout(timeouts);
  const int values[] = {s.Timeouts.ReadInterval(), s.Timeouts.ReadTotalMultiplier(),
                        s.Timeouts.ReadTotalConstant(), s.Timeouts.WriteTotalMultiplier(),
                        s.Timeouts.WriteTotalConstant()};
  const char* names[] = {"Read interval:", "Read total per byte:", "Read total constant:",
                         "Write total per byte:", "Write total constant:"};
  for (size_t i = 0; i < timeouts_.size(); ++i) {
    timeouts_[i] = NumberEdit(-1, kMaxInt, values[i], timeouts);
    timeoutForm->addRow(QString::fromLatin1(names[i]), timeouts_[i]);
  }
  NameByLabels(timeoutForm);
  Body()->addWidget(timeouts);

  auto* line = new QGroupBox(QStringLiteral("Driver"), this);
  auto* lineForm = new QFormLayout(line);
  inputSize_ = NumberEdit(0, kMaxInt, s.Buffer.InputSize(), line);
  outputSize_ = NumberEdit(0, kMaxInt, s.Buffer.OutputSize(), line);
  eventChar_ = NumberEdit(0, 255, static_cast<unsigned char>(s.EventChar), line);
  discardNull_ = new QCheckBox(QStringLiteral("Discard received &NUL characters"), line);
  discardNull_->setChecked(s.DiscardNull);
  lineForm->addRow(QStringLiteral("&Input buffer (bytes):"), inputSize_);
  lineForm->addRow(QStringLiteral("&Output buffer (bytes):"), outputSize_);
  lineForm->addRow(QStringLiteral("&Event character (code):"), eventChar_);
  lineForm->addRow(discardNull_);
  NameByLabels(lineForm);
  Body()->addWidget(line);

  auto* events = new QGroupBox(QStringLiteral("Events watched (from the next open)"), this);
  auto* grid = new QGridLayout(events);
  for (int e = serial::evRxChar; e <= serial::evRx80Full; ++e) {
    const auto event = static_cast<serial::TComEvent>(e);
    auto* box = new QCheckBox(QString::fromStdString(serial::EventToStr(event)), events);
    box->setChecked(s.Events.Contains(event));
    grid->addWidget(box, e / 2, e % 2);
    events_[static_cast<size_t>(e)] = box;
  }
  Body()->addWidget(events);

  auto* thread = new QGroupBox(QStringLiteral("Event thread (set while the port is closed)"), this);
  auto* threadForm = new QFormLayout(thread);
  syncMethod_ = new QComboBox(thread);
  for (int m = serial::smThreadSync; m <= serial::smNone; ++m) {
    syncMethod_->addItem(
        QString::fromStdString(serial::SyncMethodToStr(static_cast<serial::TSyncMethod>(m))));
  }
  syncMethod_->setCurrentIndex(s.SyncMethod);
  priority_ = new QComboBox(thread);
  for (int p = serial::tpIdle; p <= serial::tpTimeCritical; ++p) {
    priority_->addItem(QString::fromStdString(
        serial::ThreadPriorityToStr(static_cast<serial::TThreadPriority>(p))));
  }
  priority_->setCurrentIndex(s.EventThreadPriority);
  threadForm->addRow(QStringLiteral("&Delivery:"), syncMethod_);
  threadForm->addRow(QStringLiteral("&Priority:"), priority_);
  NameByLabels(threadForm);
  Body()->addWidget(thread);
}

void TComAdvancedDialog::Collect(TComPortSettings& settings) const {
  settings.Timeouts.SetReadInterval(timeouts_[0]->value());
  settings.Timeouts.SetReadTotalM(timeouts_[1]->value());
  settings.Timeouts.SetReadTotalC(timeouts_[2]->value());
  settings.Timeouts.SetWriteTotalM(timeouts_[3]->value());
  settings.Timeouts.SetWriteTotalC(timeouts_[4]->value());
  settings.Buffer.SetInputSize(inputSize_->value());
  settings.Buffer.SetOutputSize(outputSize_->value());
  settings.EventChar = static_cast<char>(static_cast<unsigned char>(eventChar_->value()));
  settings.DiscardNull = discardNull_->isChecked();
  serial::TComEvents watched;
  for (size_t e = 0; e < events_.size(); ++e) {
    if (events_[e]->isChecked()) watched.Include(static_cast<serial::TComEvent>(e));
  }
  settings.Events = watched;
  settings.SyncMethod = static_cast<serial::TSyncMethod>(syncMethod_->currentIndex());
  settings.EventThreadPriority = static_cast<serial::TThreadPriority>(priority_->currentIndex());
}

}  // namespace widgets
