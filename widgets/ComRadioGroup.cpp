#include "widgets/ComRadioGroup.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>
#include <exception>
#include <stdexcept>

#include "platform/Application.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

namespace widgets {

TComRadioGroup::TComRadioGroup(QWidget* parent)
    : QGroupBox(parent), binding_([this] { Show(); }), grid_(new QGridLayout(this)) {
  buttons_.setExclusive(true);
  // idClicked comes from the user only.
  QObject::connect(&buttons_, &QButtonGroup::idClicked, this, [this](int id) { Choose(id); });
  Fill();
}

TComRadioGroup::~TComRadioGroup() = default;

void TComRadioGroup::SetComPort(serial::TCustomComPort* port) {
  binding_.SetComPort(port);
}

void TComRadioGroup::SetComSetting(TComSettingKind kind) {
  if (kind == csPort) throw std::invalid_argument("a radio group offers no port names");
  if (kind == binding_.Kind()) return;
  binding_.SetKind(kind);
  Fill();
}

void TComRadioGroup::SetColumns(int value) {
  value = std::max(value, 1);
  if (value == columns_) return;
  columns_ = value;
  Fill();
}

QAbstractButton* TComRadioGroup::Button(const QString& text) const {
  for (QAbstractButton* button : buttons_.buttons()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

void TComRadioGroup::Fill() {
  for (QAbstractButton* button : buttons_.buttons()) {
    buttons_.removeButton(button);
    delete button;
  }
  const auto items = ComSettingItems(binding_.Kind());
  for (size_t i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(QString::fromStdString(items[i]), this);
    const int id = static_cast<int>(i);
    buttons_.addButton(button, id);
    grid_->addWidget(button, id / columns_, id % columns_);
  }
  Show();
}

void TComRadioGroup::Show() {
  QAbstractButton* current = Button(QString::fromStdString(binding_.Text()));
  if (current) {
    current->setChecked(true);
  } else if (QAbstractButton* checked = buttons_.checkedButton()) {
    // No port, or a value with no button: none is checked.
    buttons_.setExclusive(false);
    checked->setChecked(false);
    buttons_.setExclusive(true);
  }
}

void TComRadioGroup::Choose(int id) {
  QAbstractButton* button = buttons_.button(id);
  if (!button) return;
  if (!binding_.ComPort()) {
    Show();
    return;
  }
  binding_.Select(button->text().toStdString(), [this](const serial::EComPort& error) {
    if (OnError) {
      OnError(*this, error);
    } else {
      platform::HandleException(std::make_exception_ptr(error));
    }
  });
}

}  // namespace widgets
