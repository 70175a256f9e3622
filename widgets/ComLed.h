#pragma once
/// \file
/// A signal lamp bound to a port and one of its signals: the modem lines CTS, DSR and RLSD show
/// their state; Ring and the transmit and receive activity light for a short time after each
/// event, so that traffic reads as a flicker rather than a lamp that is always on. The lamp follows
/// the port's link events, never polls; only when it is bound to a port that is open already does
/// it read the line once.

#include <QColor>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "../platform/Export.h"
#include "../serial/ComLink.h"

namespace serial {
class TCustomComPort;
}

namespace widgets {

/// What a lamp shows.
enum TLedSignal {
  lsConn,  ///< the port is open
  lsCTS,   ///< CTS is on
  lsDSR,   ///< DSR is on
  lsRLSD,  ///< RLSD (carrier detect) is on
  lsRing,  ///< the ring indicator came on, for ActivityTime()
  lsTx,    ///< a write was issued, for ActivityTime()
  lsRx     ///< bytes came, for ActivityTime()
};

/// A lamp with an optional caption, bound to one signal of a port; see the file's description.
class VALTREX_API TComLed : public QWidget {
 public:
  /// An unlit lamp of the connection, bound to no port.
  explicit TComLed(QWidget* parent = nullptr);
  /// Unbinds from its port. A port that delivers in its own thread must be closed, or deliver on
  /// the main thread, while its lamps come and go: its links are not guarded against that thread.
  ~TComLed() override;
  TComLed(const TComLed&) = delete;
  TComLed& operator=(const TComLed&) = delete;

  /// The port the lamp follows; null while there is none.
  serial::TCustomComPort* ComPort() const { return port_; }
  /// Registers the lamp's link with `port` (null: no port).
  void SetComPort(serial::TCustomComPort* port);
  /// The signal the lamp shows.
  TLedSignal LedSignal() const { return signal_; }
  /// Shows another signal; a bound lamp takes its state from the port again.
  void SetLedSignal(TLedSignal value);
  /// Lit or not. Set by hand only on a lamp without a port: a bound lamp belongs to its port, so
  /// setting it raises EComPort code 19.
  bool State() const { return state_; }
  /// Lights the lamp or puts it out; see State().
  void SetState(bool value);
  /// The lamp's colour when lit; green by default.
  QColor OnColor() const { return onColor_; }
  /// Sets the lit colour.
  void SetOnColor(const QColor& value);
  /// The lamp's colour when out; dark green by default.
  QColor OffColor() const { return offColor_; }
  /// Sets the colour when out.
  void SetOffColor(const QColor& value);
  /// The text beside the lamp; none by default.
  QString Caption() const { return caption_; }
  /// Sets the text beside the lamp.
  void SetCaption(const QString& value);
  /// How long Ring, Tx and Rx stay lit after their event, in milliseconds.
  int ActivityTime() const { return activity_.interval(); }
  /// Sets how long a momentary signal stays lit.
  void SetActivityTime(int ms) { activity_.setInterval(ms); }

  std::function<void(TComLed& sender)> OnChange;  ///< the lamp went on or off

  /// The lamp and its caption in the widget's font.
  QSize sizeHint() const override;

 protected:
  /// Draws the lamp in its colour, and the caption.
  void paintEvent(QPaintEvent* event) override;

 private:
  void Bind();
  void Unbind();
  bool InitialState() const;
  void FromPort(bool on);  // any thread
  void Show(bool on);
  void Describe();  // the accessible name and state text, e.g. "CTS" and "CTS on"
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
