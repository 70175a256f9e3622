#include "app/qt/MainWindow.h"

#include <QPixmap>
#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "app/Layout.h"
#include "app/Edge.h"
#include "app/qt/Views.h"

namespace app {
namespace {

// The edit boxes that keep their caret when entered with the keyboard instead of selecting
// their whole text.
constexpr std::array<std::string_view, 4> kNoAutoSelect = {"Eacc", "Ereg", "Edc_power", "Egf"};

constexpr Qt::WindowFlags kWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

bool AutoSelects(const std::string& name) {
  return std::find(kNoAutoSelect.begin(), kNoAutoSelect.end(), name) == kNoAutoSelect.end();
}

// The items of one parent that take part in the focus order, in that order.
std::vector<const TLayoutItem*> FocusItems(const std::string& parent) {
  std::vector<const TLayoutItem*> items;
  for (const TLayoutItem& item : MainFormLayout()) {
    if (item.parent == parent && item.focus >= 0) items.push_back(&item);
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const TLayoutItem* a, const TLayoutItem* b) { return a->focus < b->focus; });
  return items;
}

}  // namespace

TMainWindow::TMainWindow(platform::ComDeviceOpener opener)
    : QWidget(nullptr, kWindowFlags), form_(std::make_unique<TMainForm>(std::move(opener))) {
  setObjectName(QString::fromLatin1(kFormName));
  setWindowTitle(QString::fromLatin1(kFormCaption));
  setFixedSize(kClientWidth, kClientHeight);
  move(kFormLeft, kFormTop);
  BuildWidgets();
  BuildFocusOrder();
  // The window opens with the focus on the first control of its tab order.
  if (!focusOrder_.empty()) focusOrder_.front()->setFocus(Qt::OtherFocusReason);

  form_->OnCloseRequest = [this] { close(); };

  // A coarse timer drifts by milliseconds a tick, which stretches the telemetry period.
  clock_ = new QTimer(this);
  clock_->setTimerType(Qt::PreciseTimer);
  clock_->setInterval(static_cast<int>(form_->Timer1.Interval()));
  connect(clock_, &QTimer::timeout, this, [this] { AtEdge([&] { form_->Timer1.Tick(); }); });
  if (form_->Timer1.Enabled()) clock_->start();
}

TMainWindow::~TMainWindow() {
  clock_->stop();
  form_->OnCloseRequest = nullptr;
  // The views go first and detach from their controls; then the form, whose CP closes the port.
  const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) delete child;
  widgets_.clear();
  form_.reset();
}

QWidget* TMainWindow::Widget(const std::string& name) const {
  const auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

void TMainWindow::BuildWidgets() {
  for (const TLayoutItem& item : MainFormLayout()) {
    if (item.kind == TControlKind::Page) continue;  // made by the page control with its tabs
    QWidget* parent = item.parent == kFormName ? this : widgets_.at(item.parent);
    TControl& control = *form_->FindControl(item.name);
    QWidget* widget = nullptr;
    switch (item.kind) {
      case TControlKind::PageControl: {
        auto* pages = new TPageControlView(dynamic_cast<TPageControl&>(control), parent);
        pages->BuildPages();
        for (int i = 0; i < pages->count(); ++i) {
          widgets_[pages->widget(i)->objectName().toStdString()] = pages->widget(i);
        }
        widget = pages;
        break;
      }
      case TControlKind::TrackBar:
        widget = new TTrackBarView(dynamic_cast<TTrackBar&>(control), parent);
        break;
      case TControlKind::ProgressBar:
        widget = new TProgressBarView(dynamic_cast<TProgressBar&>(control), parent);
        break;
      case TControlKind::Edit:
        widget = new TEditView(dynamic_cast<TEdit&>(control), AutoSelects(item.name), parent);
        break;
      case TControlKind::Label:
        widget = new TLabelView(dynamic_cast<TLabel&>(control), parent);
        break;
      case TControlKind::Shape:
        widget = new TShapeView(dynamic_cast<TShape&>(control), parent);
        break;
      case TControlKind::ComboBox:
        widget = new TComboBoxView(dynamic_cast<TComboBox&>(control), parent);
        break;
      case TControlKind::Button:
        widget = new TButtonView(dynamic_cast<TButton&>(control), parent);
        break;
      case TControlKind::Image:
        widget = new TImageView(control, QPixmap(QStringLiteral(":/panel/Image1.png")), parent);
        break;
      case TControlKind::Page:
        break;
    }
    widget->setObjectName(QString::fromStdString(item.name));
    if (item.width == 0 && item.height == 0) {
      widget->move(item.left, item.top);  // sized to its caption by the view
    } else {
      widget->setGeometry(item.left, item.top, item.width, item.height);
    }
    widgets_[item.name] = widget;
  }
}

void TMainWindow::BuildFocusOrder() {
  // Each parent orders its own controls; the page control's place in the window's order is
  // where the controls of its pages come, page by page.
  std::vector<QWidget*> order;
  for (const TLayoutItem* item : FocusItems(kFormName)) {
    order.push_back(widgets_.at(item->name));
    if (item->kind != TControlKind::PageControl) continue;
    for (const TLayoutItem* page : FocusItems(item->name)) {
      for (const TLayoutItem* inner : FocusItems(page->name)) {
        order.push_back(widgets_.at(inner->name));
      }
    }
  }
  std::erase_if(order, [](QWidget* w) { return !(w->focusPolicy() & Qt::TabFocus); });
  for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  focusOrder_ = std::move(order);
}

}  // namespace app
