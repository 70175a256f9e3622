#include "app/qt/Views.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPen>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/Edge.h"

namespace app {
namespace {

// Control texts are counted 8-bit strings; Latin-1 maps every byte to one character and back.
QString FromText(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToText(const QString& text) {
  return text.toLatin1().toStdString();
}

void ShowState(QWidget& widget, const TControl& control) {
  widget.setVisible(control.Visible());
  widget.setEnabled(control.Enabled());
}

// The port list's rows are one text line high.
class TFixedRowDelegate : public QStyledItemDelegate {
 public:
  TFixedRowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

constexpr int kComboItemHeight = 13;
constexpr int kTickLength = 4;

// The style draws no focus on buttons and sliders; a dotted frame in the text colour does, as
// operators know it from their other programs.
void DrawFocusFrame(QWidget& widget, QPainter& painter, int inset) {
  if (!widget.hasFocus()) return;
  QPen pen(widget.palette().color(QPalette::WindowText), 1, Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(widget.rect().adjusted(inset, inset, -inset - 1, -inset - 1));
}

}  // namespace

QColor ToQColor(TColor colour) {
  if (colour == clDefault) return {};
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

// --- Slider

TTrackBarView::TTrackBarView(TTrackBar& control, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), control_(control) {
  // Room for ticks below the groove; paintEvent draws them at the ends only.
  setTickPosition(QSlider::TicksBelow);
  setTracking(true);
  connect(this, &QSlider::valueChanged, this,
          [this](int value) { AtEdge([&] { control_.OperatorNotify(value); }); });
  // The end of a drag notifies, also when it leaves the slider where the drag began.
  connect(this, &QSlider::sliderReleased, this,
          [this] { AtEdge([&] { control_.OperatorNotify(value()); }); });
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TTrackBarView::~TTrackBarView() {
  control_.OnViewChange = nullptr;
}

void TTrackBarView::Refresh() {
  const QSignalBlocker blocker(this);
  setRange(control_.Min(), control_.Max());
  setSingleStep(control_.LineSize());
  setPageStep(control_.PageSize());
  setValue(control_.Position());
  ShowState(*this, control_);
}

std::optional<TTrackBar::TKey> TTrackBarView::KeyFor(int key) {
  using TKey = TTrackBar::TKey;
  // Up and Left step towards the minimum, Down and Right towards the maximum.
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Up:
      return TKey::LineUp;
    case Qt::Key_Right:
    case Qt::Key_Down:
      return TKey::LineDown;
    case Qt::Key_PageUp:
      return TKey::PageUp;
    case Qt::Key_PageDown:
      return TKey::PageDown;
    case Qt::Key_Home:
      return TKey::Home;
    case Qt::Key_End:
      return TKey::End;
    default:
      return std::nullopt;
  }
}

void TTrackBarView::keyPressEvent(QKeyEvent* event) {
  const std::optional<TTrackBar::TKey> key = KeyFor(event->key());
  if (!key) {
    QSlider::keyPressEvent(event);
    return;
  }
  event->accept();
  AtEdge([&] { control_.OperatorKey(*key); });
}

void TTrackBarView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionSlider option;
  initStyleOption(&option);
  option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
  style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);

  const QRect handle =
      style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  const int span = width() - handle.width();
  const int top = handle.bottom() + 2;
  painter.setPen(palette().color(QPalette::WindowText));
  for (int value : {minimum(), maximum()}) {
    const int x =
        QStyle::sliderPositionFromValue(minimum(), maximum(), value, span) + handle.width() / 2;
    painter.drawLine(x, top, x, top + kTickLength - 1);
  }
  DrawFocusFrame(*this, painter, 0);
}

// --- Progress bar

TProgressBarView::TProgressBarView(TProgressBar& control, QWidget* parent)
    : QProgressBar(parent), control_(control) {
  setTextVisible(false);
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TProgressBarView::~TProgressBarView() {
  control_.OnViewChange = nullptr;
}

QColor TProgressBarView::BarColor() const {
  return palette().color(QPalette::Highlight);
}

void TProgressBarView::Refresh() {
  const QSignalBlocker blocker(this);
  if (control_.Min() <= control_.Max()) setRange(control_.Min(), control_.Max());
  // The toolkit drops a value outside the range; the control reads back clamped.
  setValue(control_.Position());
  const QColor wanted = ToQColor(control_.BarColor());
  const QColor colour =
      wanted.isValid() ? wanted : QApplication::palette(this).color(QPalette::Highlight);
  if (BarColor() != colour) {
    QPalette p = palette();
    p.setColor(QPalette::Highlight, colour);
    setPalette(p);
  }
  ShowState(*this, control_);
}

// --- Edit box

TEditView::TEditView(TEdit& control, bool autoSelect, QWidget* parent)
    : QLineEdit(parent), control_(control), autoSelect_(autoSelect) {
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TEditView::~TEditView() {
  control_.OnViewChange = nullptr;
}

void TEditView::Refresh() {
  const QSignalBlocker blocker(this);
  const QString text = FromText(control_.Text());
  if (this->text() != text) {
    setText(text);
    setCursorPosition(0);  // a value wider than the box shows its beginning
  }
  ShowState(*this, control_);
}

void TEditView::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (!autoSelect_) deselect();
}

// --- Label

TLabelView::TLabelView(TLabel& control, QWidget* parent) : QLabel(parent), control_(control) {
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setMargin(0);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TLabelView::~TLabelView() {
  control_.OnViewChange = nullptr;
}

void TLabelView::Refresh() {
  setText(FromText(control_.Caption()));
  adjustSize();
  ShowState(*this, control_);
}

// --- Shape

TShapeView::TShapeView(TShape& control, QWidget* parent) : QWidget(parent), control_(control) {
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TShapeView::~TShapeView() {
  control_.OnViewChange = nullptr;
}

void TShapeView::Refresh() {
  update();
  ShowState(*this, control_);
}

void TShapeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int penWidth = control_.PenWidth();
  if (penWidth > 0) {
    QPen pen(ToQColor(control_.PenColor() & 0xFFFFFF), penWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
  } else {
    painter.setPen(Qt::NoPen);
  }
  painter.setBrush(ToQColor(control_.BrushColor() & 0xFFFFFF));
  // The outline lies wholly inside the control; the corners are arcs of a quarter of the
  // shorter side across.
  const qreal inset = penWidth / 2.0;
  const QRectF box = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
  const qreal radius = std::min(box.width(), box.height()) / 8.0;
  painter.drawRoundedRect(box, radius, radius);
}

// --- Combo box

TComboBoxView::TComboBoxView(TComboBox& control, QWidget* parent)
    : QComboBox(parent), control_(control) {
  setEditable(true);
  // What the operator types is tried as typed: no completion, and Enter adds nothing to the list.
  setInsertPolicy(QComboBox::NoInsert);
  setCompleter(nullptr);
  setItemDelegate(new TFixedRowDelegate(kComboItemHeight, this));
  connect(this, &QComboBox::editTextChanged, this,
          [this](const QString& text) { AtEdge([&] { control_.OperatorText(ToText(text)); }); });
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TComboBoxView::~TComboBoxView() {
  control_.OnViewChange = nullptr;
}

void TComboBoxView::Refresh() {
  const QSignalBlocker blocker(this);
  if (layoutItems_ != control_.Items()) {
    std::vector<app::TPortListEntry> entries;
    for (const std::string& item : control_.Items()) entries.push_back({item, {}});
    ShowEntries(entries);
  }
  const QString text = FromText(control_.Text());
  if (currentText() != text) {
    setEditText(text);
    lineEdit()->setCursorPosition(0);  // a name wider than the box shows its beginning
  }
  ShowState(*this, control_);
}

void TComboBoxView::showPopup() {
  AtEdge([&] {
    const QSignalBlocker blocker(this);
    ShowEntries(app::ReadPortList(control_.Items()));
  });
  QComboBox::showPopup();
}

// Replaces the list and leaves the text as it was: the operator's typing is not a list entry.
void TComboBoxView::ShowEntries(const std::vector<app::TPortListEntry>& entries) {
  const QString text = currentText();
  clear();
  int widest = width();
  const QFontMetrics metrics(view()->font());
  for (const app::TPortListEntry& entry : entries) {
    addItem(FromText(entry.Name));
    if (!entry.ToolTip.empty()) setItemData(count() - 1, FromText(entry.ToolTip), Qt::ToolTipRole);
    widest =
        std::max(widest, metrics.horizontalAdvance(FromText(entry.Name)) + 2 * kComboItemHeight);
  }
  view()->setMinimumWidth(widest);
  layoutItems_ = control_.Items();
  setEditText(text);
  lineEdit()->setCursorPosition(0);
}

// --- Button

TButtonView::TButtonView(TButton& control, QWidget* parent)
    : QPushButton(parent), control_(control) {
  setAutoDefault(false);
  connect(this, &QPushButton::clicked, this, [this] { AtEdge([&] { control_.Click(); }); });
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TButtonView::~TButtonView() {
  control_.OnViewChange = nullptr;
}

void TButtonView::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter) {
    QPushButton::keyPressEvent(event);
    return;
  }
  event->accept();
  if (!event->isAutoRepeat()) click();  // a held key presses once
}

void TButtonView::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  QPainter painter(this);
  DrawFocusFrame(*this, painter, 3);
}

void TButtonView::Refresh() {
  setText(FromText(control_.Caption()));
  ShowState(*this, control_);
}

// --- Page control

TPageControlView::TPageControlView(TPageControl& control, QWidget* parent)
    : QTabWidget(parent), control_(control) {
  connect(this, &QTabWidget::currentChanged, this,
          [this](int index) { AtEdge([&] { control_.OperatorSelect(index); }); });
  control_.OnViewChange = [this] { Refresh(); };
}

TPageControlView::~TPageControlView() {
  control_.OnViewChange = nullptr;
}

void TPageControlView::BuildPages() {
  {
    const QSignalBlocker blocker(this);
    for (const TPageControl::TPage& page : control_.Pages()) {
      auto* sheet = new QWidget;
      sheet->setObjectName(FromText(page.name));
      addTab(sheet, FromText(page.caption));
    }
  }
  Refresh();
}

void TPageControlView::Refresh() {
  {
    const QSignalBlocker blocker(this);
    setCurrentIndex(control_.ActivePageIndex());
  }
  ShowState(*this, control_);
}

// --- Picture

TImageView::TImageView(TControl& control, QPixmap picture, QWidget* parent)
    : QWidget(parent), control_(control), picture_(std::move(picture)) {
  control_.OnViewChange = [this] { Refresh(); };
  Refresh();
}

TImageView::~TImageView() {
  control_.OnViewChange = nullptr;
}

void TImageView::Refresh() {
  ShowState(*this, control_);
}

void TImageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, picture_);
}

}  // namespace app
