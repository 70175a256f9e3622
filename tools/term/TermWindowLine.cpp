// TTermWindow: the line (connecting, losing the port), sending, receiving, the packet view.
#include "tools/term/TermWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <functional>

#include "serial/ComError.h"
#include "serial/extras/ComStrings.h"
#include "tools/term/FrameDecoder.h"
#include "tools/term/TermWindowInternal.h"
#include "widgets/ComComboBox.h"
#include "widgets/ComSetupDialog.h"
#include "widgets/ComTerminal.h"

namespace term {
namespace {

// A file goes out in pieces, so that a write's time-out is the piece's and not the file's.
constexpr qint64 kFilePiece = 4096;
// Decoded packets line up their meanings past the longest frame the generator knows.
constexpr int kFrameColumn = 14;

std::string ErrorsText(serial::TComErrors errors) {
  static constexpr const char* kNames[] = {"frame", "parity", "overrun",        "break",
                                           "I/O",   "mode",   "input overflow", "output full"};
  std::string text;
  for (int e = serial::ceFrame; e <= serial::ceTxFull; ++e) {
    if (!errors.Contains(static_cast<serial::TComError>(e))) continue;
    if (!text.empty()) text += ", ";
    text += kNames[e];
  }
  return text;
}

// The time of day for a packet's line. Asking for the local time reads the time zone anew each
// time, too slow for a line per packet in a flood: the offset from UTC is asked once a second.
QString Stamp() {
  static qint64 offsetUntil = 0;
  static qint64 offsetMs = 0;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (now >= offsetUntil) {
    offsetMs = qint64{QDateTime::currentDateTime().offsetFromUtc()} * 1000;
    offsetUntil = now + 1000;
  }
  constexpr qint64 kDayMs = 24 * 3600 * 1000;
  const auto ms = static_cast<int>(((now + offsetMs) % kDayMs + kDayMs) % kDayMs);
  return QTime::fromMSecsSinceStartOfDay(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

template <typename F>
void TellFailure(F&& action, const std::function<void(const std::string&)>& tell) {
  try {
    action();
  } catch (const std::exception& e) {
    tell(e.what());
  }
}

}  // namespace

// --- the line

std::string TTermWindow::LineDescription() const {
  const std::string rate = port_.BaudRate() == serial::brCustom
                               ? std::to_string(port_.CustomBaudRate())
                               : serial::BaudRateToStr(port_.BaudRate());
  return port_.Port() + ", " + rate + " bit/s, " + serial::DataBitsToStr(port_.DataBits()) +
         serial::ParityToStr(port_.Parity().Bits()).substr(0, 1) +
         serial::StopBitsToStr(port_.StopBits());
}

void TTermWindow::Connect() {
  if (port_.Connected()) return;
  const std::string name(serial::TrimText(portBox_->currentText().toStdString()));
  if (name.empty()) {
    Status(QStringLiteral("Choose a port from the list or type its name first."));
    return;
  }
  try {
    port_.SetPort(name);
    port_.Open();
  } catch (const std::exception& e) {
    Status(QStringLiteral("Cannot open %1: %2").arg(Text(name), FailureText(e)));
    return;
  }
  Status(QStringLiteral("Connected: %1").arg(Text(LineDescription())));
}

QString TTermWindow::FailureText(const std::exception& e) const {
  // The component's message says what call failed and with what error; the engineer at the
  // line also wants to read what that means and what to try.
  const QString message = Text(e.what());
  const auto* failure = dynamic_cast<const serial::EComPort*>(&e);
  if (!failure) return message;
  std::string hint;
  switch (failure->ErrorCode()) {
    case serial::ecode::kOpen:
      switch (failure->SystemErrorCode()) {
        case EBUSY:
          hint = "The port is in use by another program: close it there, or choose another port.";
          break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
          hint =
              "There is no such port: check that the adapter is plugged in, and pick the port "
              "from the list.";
          break;
        case EACCES:
        case EPERM:
          hint =
              "You may not use this port: add your user to the port's group (dialout, "
              "usually) and log in again.";
          break;
        default:
          hint = "The system refused the port: check its name and the adapter.";
          break;
      }
      break;
    case serial::ecode::kSetCommState:
      if (port_.StopBits() == serial::sbOne5StopBits && port_.DataBits() != serial::dbFive) {
        hint = "The driver refused 1.5 stop bits with " + serial::DataBitsToStr(port_.DataBits()) +
               " data bits (1.5 go with 5 data bits only): choose others with Line...";
      } else {
        hint = "The driver refused the line settings (" + LineDescription() +
               "): a rate or a character format it cannot make. Choose others with Line...";
      }
      break;
    case serial::ecode::kSetCommTimeouts:
      hint = "The driver refused the time-outs: change them with Advanced...";
      break;
    case serial::ecode::kSetupComm:
      hint = "The driver refused the buffer sizes: change them with Advanced...";
      break;
    default:
      break;
  }
  return hint.empty() ? message : QStringLiteral("%1. %2").arg(message, Text(hint));
}

void TTermWindow::Disconnect() {
  if (!port_.Connected()) return;
  TellFailure([this] { port_.Close(); },
              [this](const std::string& what) {
                Status(QStringLiteral("Closed with an error: %1").arg(Text(what)));
              });
  if (!port_.Connected()) Status(QStringLiteral("Disconnected."));
}

void TTermWindow::ShowConnection(bool connected) {
  if (closing_) return;
  connected ? lineWatch_.start() : lineWatch_.stop();
  connect_->setEnabled(!connected);
  disconnect_->setEnabled(connected);
  send_->setEnabled(connected);
  sendFile_->setEnabled(connected);
}

void TTermWindow::WatchLine() {
  if (!port_.Connected()) return;
  try {
    // Only asking the driver finds a device that has gone. The modem lines are what is asked
    // for: reading them changes nothing in the port, whichever thread delivers its events.
    port_.Signals();
  } catch (const serial::EComPort& e) {
    LosePort(e.what());
  }
}

void TTermWindow::LineErrors(serial::TComErrors errors) {
  if (errors.Empty()) return;
  Status(QStringLiteral("Line errors on %1: %2").arg(Text(port_.Port()), Text(ErrorsText(errors))));
}

void TTermWindow::LosePort(const std::string& reason) {
  // Told once: once closed, nothing on this port is asked again until Connect.
  if (!port_.Connected()) return;
  const std::string name = port_.Port();
  try {
    port_.Close();
  } catch (const std::exception&) {
    // The device has gone: closing it fails its own way, and is done all the same.
  }
  Status(
      QStringLiteral("Lost %1: %2. Connect again once it is back.").arg(Text(name), Text(reason)));
}

// --- what goes out

bool TTermWindow::Send(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (!port_.Connected()) {
    Status(QStringLiteral("Not connected."));
    return false;
  }
  try {
    const int32_t sent = port_.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    if (sent != static_cast<int32_t>(bytes.size())) {
      Status(QStringLiteral("Write timed out: %1 of %2 bytes sent.").arg(sent).arg(bytes.size()));
      return false;
    }
  } catch (const serial::EComPort& e) {
    LosePort(e.what());
    return false;
  }
  if (decode_->isChecked()) {
    for (const serial::TPacketPiece& piece :
         sentPackets_.Feed(bytes, serial::TPacketAssembler::TTime::clock::now())) {
      if (piece.Packet) ShowPacket(piece.Bytes, true);
    }
  }
  return true;
}

void TTermWindow::SendLine() {
  const TLineEnd end = static_cast<TLineEnd>(std::max(lineEnd_->currentIndex(), 0));
  const std::string line = sendEdit_->text().toLocal8Bit().toStdString();
  if (Send(line + std::string(LineEndBytes(end)))) sendEdit_->clear();
}

void TTermWindow::ChooseAndSendFile() {
  const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Send file"));
  if (!name.isEmpty()) SendFile(name);
}

void TTermWindow::SendFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    Status(QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()));
    return;
  }
  qint64 total = 0;
  while (!file.atEnd()) {
    const QByteArray piece = file.read(kFilePiece);
    if (piece.isEmpty() && file.error() != QFileDevice::NoError) {
      Status(QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()));
      return;
    }
    if (!Send(std::string_view(piece.constData(), static_cast<size_t>(piece.size())))) return;
    total += piece.size();
  }
  Status(QStringLiteral("Sent %1: %2 bytes.").arg(QFileInfo(fileName).fileName()).arg(total));
}

// --- what comes in

void TTermWindow::Received(std::string bytes) {
  hexView_->Append(bytes);
}

void TTermWindow::ShowPacket(const std::string& bytes, bool sent) {
  const QString stamp = Stamp();
  const QString frame = Text(EscapeText(bytes));
  if (!decode_->isChecked()) {
    packetView_->AppendLine(stamp + QStringLiteral("  ") + frame);
    return;
  }
  packetView_->AppendLine(stamp + (sent ? QStringLiteral("  TX  ") : QStringLiteral("  RX  ")) +
                          frame.leftJustified(kFrameColumn) + QStringLiteral("  ") +
                          Text(DecodeFrame(bytes)));
}

void TTermWindow::ApplyPacketStrings() {
  try {
    const std::string start = UnescapeText(packetStart_->text().toStdString());
    const std::string stop = UnescapeText(packetStop_->text().toStdString());
    serial::TPacketSettings settings = packet_.Settings();
    if (settings.StartString == start && settings.StopString == stop) return;
    settings.StartString = start;
    settings.StopString = stop;
    packet_.SetSettings(settings);
    sentPackets_.SetSettings(settings);
  } catch (const serial::EComConvert& e) {
    Status(QStringLiteral("Packet strings: %1").arg(Text(e.what())));
  }
}

void TTermWindow::ClearViews() {
  terminal_->Clear();
  hexView_->Clear();
  packetView_->Clear();
}

// --- the dialogs

void TTermWindow::OpenLineDialog() {
  widgets::TComSetupDialog dialog(port_, this);
  if (dialog.exec() == QDialog::Accepted && port_.Connected()) {
    Status(QStringLiteral("Connected: %1").arg(Text(LineDescription())));
  }
}

void TTermWindow::OpenAdvancedDialog() {
  widgets::TComAdvancedDialog dialog(port_, this);
  dialog.exec();
}

}  // namespace term
