#include "widgets/ComLed.h"

#include <QMetaObject>
#include <QPainter>
#include <QThread>
#include <algorithm>

#include "serial/ComError.h"
#include "serial/ComPort.h"

namespace widgets {
namespace {

constexpr int kLampSize = 12;
constexpr int kGap = 4;

const char* SignalName(TLedSignal signal) {
  switch (signal) {
    case lsConn:
      return "Connected";
    case lsCTS:
      return "CTS";
    case lsDSR:
      return "DSR";
    case lsRLSD:
      return "RLSD";
    case lsRing:
      return "Ring";
    case lsTx:
      return "TX";
    case lsRx:
      return "RX";
  }
  return "";
}

}  // namespace

TComLed::TComLed(QWidget* parent) : QWidget(parent) {
  activity_.setSingleShot(true);
  activity_.setInterval(100);
  QObject::connect(&activity_, &QTimer::timeout, this, [this] { Show(false); });
  Describe();
}

TComLed::~TComLed() {
  Unbind();
}

void TComLed::SetComPort(serial::TCustomComPort* port) {
  if (port == port_) return;
  Unbind();
  port_ = port;
  Show(false);
  Bind();
}

void TComLed::SetLedSignal(TLedSignal value) {
  if (value == signal_) return;
  Unbind();
  signal_ = value;
  Show(false);
  Bind();
  Describe();
}

void TComLed::SetState(bool value) {
  if (port_) serial::RaiseComError(serial::ecode::kLedState);
  Show(value);
}

void TComLed::SetOnColor(const QColor& value) {
  onColor_ = value;
  update();
}

void TComLed::SetOffColor(const QColor& value) {
  offColor_ = value;
  update();
}

void TComLed::SetCaption(const QString& value) {
  caption_ = value;
  updateGeometry();
  update();
  Describe();
}

void TComLed::Bind() {
  if (!port_) return;
  link_ = {};
  const auto signal = [this](serial::TCustomComPort&, bool on) { FromPort(on); };
  const auto pulse = [this](serial::TCustomComPort&) { FromPort(true); };
  switch (signal_) {
    case lsConn:
      link_.OnConn = signal;
      break;
    case lsCTS:
      link_.OnCTSChange = signal;
      break;
    case lsDSR:
      link_.OnDSRChange = signal;
      break;
    case lsRLSD:
      link_.OnRLSDChange = signal;
      break;
    case lsRing:
      link_.OnRing = pulse;
      break;
    // Only the start of activity counts: the lamp's own time says when it goes out, so a
    // transfer too short to see still shows.
    case lsTx:
      link_.OnTx = [this](serial::TCustomComPort&, bool on) {
        if (on) FromPort(true);
      };
      break;
    case lsRx:
      link_.OnRx = [this](serial::TCustomComPort&, bool on) {
        if (on) FromPort(true);
      };
      break;
  }
  port_->RegisterLink(&link_);
  if (port_->Connected()) Show(InitialState());
}

bool TComLed::InitialState() const {
  // Bound to a port that is open already: its events have been and gone, so the line is read
  // once. A failed read leaves the lamp off; the next event puts it right.
  if (signal_ == lsConn) return true;
  const auto line = [this](serial::TComSignal s) {
    try {
      return port_->Signals().Contains(s);
    } catch (const serial::EComPort&) {
      return false;
    }
  };
  switch (signal_) {
    case lsCTS:
      return line(serial::csCTS);
    case lsDSR:
      return line(serial::csDSR);
    case lsRLSD:
      return line(serial::csRLSD);
    default:
      return false;
  }
}

void TComLed::Unbind() {
  if (port_) port_->UnRegisterLink(&link_);
}

void TComLed::FromPort(bool on) {
  // A port that delivers in its own thread calls here from that thread; the widget changes on
  // its own. The queued call is dropped if the lamp is gone by then.
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(
        this, [this, on] { FromPort(on); }, Qt::QueuedConnection);
    return;
  }
  if (Momentary() && on) activity_.start();
  Show(on);
}

void TComLed::Show(bool on) {
  if (!on) activity_.stop();
  if (on == state_) return;
  state_ = on;
  update();
  Describe();
  if (OnChange) OnChange(*this);
}

void TComLed::Describe() {
  // A lamp is read by its caption, or by its signal when it has none, and its state in words.
  const QString name = caption_.isEmpty() ? QString::fromLatin1(SignalName(signal_)) : caption_;
  setAccessibleName(name);
  setAccessibleDescription(name + (state_ ? QStringLiteral(" on") : QStringLiteral(" off")));
}

QSize TComLed::sizeHint() const {
  const int text = caption_.isEmpty() ? 0 : kGap + fontMetrics().horizontalAdvance(caption_);
  return {kLampSize + text, std::max(kLampSize, fontMetrics().height())};
}

void TComLed::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect lamp(0, (height() - kLampSize) / 2, kLampSize, kLampSize);
  painter.setPen(palette().color(QPalette::Dark));
  painter.setBrush(state_ ? onColor_ : offColor_);
  painter.drawEllipse(lamp.adjusted(0, 0, -1, -1));
  if (caption_.isEmpty()) return;
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(QRect(kLampSize + kGap, 0, width() - kLampSize - kGap, height()),
                   Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

}  // namespace widgets
