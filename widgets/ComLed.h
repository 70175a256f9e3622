#pragma once
// A signal lamp bound to a port and one of its signals: the modem lines CTS, DSR and RLSD show
// their state; Ring and the transmit and receive activity light for a short time after each
// event, so that traffic reads as a flicker rather than a lamp that is always on. The lamp follows
// the port's link events, never polls; only when it is bound to a port that is open already does
// it read the line once.

#include <QColor>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "../serial/ComLink.h"
#include "../platform/Export.h"

namespace serial {
class TCustomComPort;
}

namespace widgets {

enum TLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsTx, lsRx };

class VALTREX_API TComLed : public QWidget {
 public:
  explicit TComLed(QWidget* parent = nullptr);
  // Unbinds from its port. A port that delivers in its own thread must be closed, or deliver on
  // the main thread, while its lamps come and go: its links are not guarded against that thread.
  ~TComLed() override;
  TComLed(const TComLed&) = delete;
  TComLed& operator=(const TComLed&) = delete;

  serial::TCustomComPort* ComPort() const { return port_; }
  // Registers the lamp's link with `port` (null: no port).
  void SetComPort(serial::TCustomComPort* port);
  TLedSignal LedSignal() const { return signal_; }
  void SetLedSignal(TLedSignal value);
  // Lit or not. Set by hand only on a lamp without a port: a bound lamp belongs to its port, so
  // setting it raises EComPort code 19.
  bool State() const { return state_; }
  void SetState(bool value);
  QColor OnColor() const { return onColor_; }
  void SetOnColor(const QColor& value);
  QColor OffColor() const { return offColor_; }
  void SetOffColor(const QColor& value);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);
  // How long Ring, Tx and Rx stay lit after their event, in milliseconds.
  int ActivityTime() const { return activity_.interval(); }
  void SetActivityTime(int ms) { activity_.setInterval(ms); }

  std::function<void(TComLed& sender)> OnChange;  // the lamp went on or off

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Bind();
  void Unbind();
  bool InitialState() const;
  void FromPort(bool on);  // any thread
  void Show(bool on);
  bool Momentary() const { return signal_ == lsRing || signal_ == lsTx || signal_ == lsRx; }

  serial::TCustomComPort* port_ = nullptr;
  serial::TComLink link_;
  TLedSignal signal_ = lsConn;
  bool state_ = false;
  QColor onColor_{0, 200, 0};
  QColor offColor_{0, 72, 0};
  QString caption_;
  QTimer activity_;
};

}  // namespace widgets
