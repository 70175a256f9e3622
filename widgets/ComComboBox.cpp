#include "widgets/ComComboBox.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <exception>
#include <utility>

#include "platform/Application.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

namespace widgets {

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), binding_([this] { Show(); }) {
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  // activated comes from the user only: the box showing a value the port changed is no choice.
  QObject::connect(this, &QComboBox::activated, this,
                   [this](int index) { Choose(itemText(index)); });
  Fill();
}

TComComboBox::~TComComboBox() = default;

void TComComboBox::SetComPort(serial::TCustomComPort* port) {
  binding_.SetComPort(port);
}

void TComComboBox::SetComSetting(TComSettingKind kind) {
  if (kind == binding_.Kind()) return;
  binding_.SetKind(kind);
  Fill();
}

void TComComboBox::SetPortLister(TPortLister lister) {
  lister_ = std::move(lister);
}

void TComComboBox::Fill() {
  const QSignalBlocker quiet(this);
  clear();
  const bool port = binding_.Kind() == csPort;
  const bool wasEditable = isEditable();
  setEditable(port);
  if (port && !wasEditable) {
    QObject::connect(lineEdit(), &QLineEdit::editingFinished, this,
                     [this] { Choose(currentText()); });
  }
  if (port) {
    setInsertPolicy(QComboBox::NoInsert);
  } else {
    for (const std::string& item : ComSettingItems(binding_.Kind())) {
      addItem(QString::fromStdString(item));
    }
  }
  Show();
}

void TComComboBox::showPopup() {
  if (binding_.Kind() == csPort) ListPorts();
  QComboBox::showPopup();
}

void TComComboBox::ListPorts() {
  std::vector<serial::TComPortInfo> ports;
  try {
    ports = lister_ ? lister_() : serial::EnumComPorts();
  } catch (const serial::EComPort& e) {
    // The list stays as it was; a name can still be typed.
    if (OnError) {
      OnError(*this, e);
    } else {
      platform::HandleException(std::current_exception());
    }
    return;
  }
  const QSignalBlocker quiet(this);
  const QString typed = currentText();
  clear();
  for (const serial::TComPortInfo& info : ports) {
    addItem(QString::fromStdString(info.Name));
    setItemData(count() - 1, QString::fromStdString(info.Description()), Qt::ToolTipRole);
  }
  setCurrentIndex(-1);
  setEditText(typed);
}

void TComComboBox::Show() {
  const QSignalBlocker quiet(this);
  const QString text = QString::fromStdString(binding_.Text());
  if (isEditable()) {
    const int index = findText(text);
    if (index >= 0) setCurrentIndex(index);
    setEditText(text);
  } else {
    setCurrentIndex(findText(text));
  }
}

void TComComboBox::Choose(const QString& text) {
  if (!binding_.ComPort() || text.toStdString() == binding_.Text()) return;
  binding_.Select(text.toStdString(), [this](const serial::EComPort& error) {
    if (OnError) {
      OnError(*this, error);
    } else {
      platform::HandleException(std::make_exception_ptr(error));
    }
  });
}

}  // namespace widgets
