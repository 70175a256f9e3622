// The terminal control: construction, its port and what passes through it, and its settings.
#include "widgets/ComTerminal.h"

#include <QApplication>
#include <QMetaObject>
#include <QScrollBar>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <stdexcept>
#include <utility>

#include "platform/Application.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/extras/ComStrings.h"
#include "serial/extras/SettingsFile.h"
#include "widgets/ComTerminalAccessible.h"

namespace widgets {
namespace {

// Each CR, LF or CR LF pair of `text` as `lineEnd`.
std::string MakeLineEnds(std::string_view text, std::string_view lineEnd) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += lineEnd;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += lineEnd;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

TComTerminal::TComTerminal(QWidget* parent)
    : QAbstractScrollArea(parent),
      screen_(settings_.Columns, settings_.Rows, settings_.ScrollBack),
      decoder_(screen_, settings_.Emulation) {
  decoder_.OnReply = [this](TTermDecoder&, const std::string& bytes) { Reply(bytes); };
  decoder_.OnLineSettings = [this](TTermDecoder&) { return LineSettings(); };
  decoder_.OnBell = [this](TTermDecoder&) {
    if (OnBell) {
      OnBell(*this);
    } else {
      QApplication::beep();
    }
  };
  setFocusPolicy(Qt::StrongFocus);
  // A screen wider than the view is never cut: the scroll bar reaches the rest.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->installEventFilter(this);
  InstallTerminalAccessible();
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&refreshTimer_, &QTimer::timeout, this, [this] { Refresh(); });
  screen_.SetAutoWrap(settings_.WrapLines);
  ApplyFont();
  Follow();
}

TComTerminal::~TComTerminal() {
  Unbind();
}

// --- Port

void TComTerminal::SetComPort(serial::TCustomComPort* port) {
  if (port == port_) return;
  Unbind();
  port_ = port;
  Bind();
}

void TComTerminal::Bind() {
  if (!port_) return;
  link_ = {};
  link_.OnRxBuf = [this](serial::TCustomComPort&, const void* buffer, int32_t count) {
    Received(std::string(static_cast<const char*>(buffer), static_cast<size_t>(count)));
  };
  port_->RegisterLink(&link_);
}

void TComTerminal::Unbind() {
  if (port_) port_->UnRegisterLink(&link_);
}

void TComTerminal::Received(std::string bytes) {
  // A port that delivers in its own thread calls here from that thread; the screen changes on
  // the terminal's own. The queued call is dropped if the terminal is gone by then.
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(
        this, [this, bytes = std::move(bytes)] { Received(bytes); }, Qt::QueuedConnection);
    return;
  }
  Show(bytes);
}

void TComTerminal::Show(std::string_view bytes) {
  switch (settings_.ReceiveLineEnd) {
    case tlAsIs:
      decoder_.Write(bytes);
      break;
    case tlCRLF: {
      // The LF of a CR LF pair may come in the next read.
      std::string out;
      for (const char c : bytes) {
        if (c == '\n' && crPending_) {
          crPending_ = false;
          continue;
        }
        crPending_ = c == '\r';
        if (c == '\r' || c == '\n') {
          out += "\r\n";
        } else {
          out += c;
        }
      }
      decoder_.Write(out);
      break;
    }
    case tlLF: {
      std::string out;
      for (const char c : bytes) {
        if (c == '\n') out += '\r';
        out += c;
      }
      decoder_.Write(out);
      break;
    }
  }
  Track();
  ScheduleRefresh();
}

void TComTerminal::Send(std::string_view bytes) {
  if (bytes.empty() || !port_ || !port_->Connected()) return;
  port_->WriteStr(std::string(bytes));
  if (settings_.LocalEcho) Show(bytes);
}

void TComTerminal::Reply(const std::string& bytes) {
  // An answer is the terminal's, not the operator's: it is never echoed. It comes from inside
  // a write to the screen, so a failing port must not break off that write half-way.
  if (!port_ || !port_->Connected()) return;
  try {
    port_->WriteStr(bytes);
  } catch (const serial::EComPort&) {
    platform::HandleException(std::current_exception());
  }
}

TTermLineSettings TComTerminal::LineSettings() const {
  TTermLineSettings line;
  if (!port_) return line;
  const serial::TBaudRate rate = port_->BaudRate();
  line.BaudRate = static_cast<int>(rate == serial::brCustom ? port_->CustomBaudRate()
                                                            : serial::BaudRateValue(rate));
  line.DataBits = 5 + (port_->DataBits() - serial::dbFive);
  switch (port_->Parity().Bits()) {
    case serial::prNone:
      line.Parity = tpNone;
      break;
    case serial::prOdd:
      line.Parity = tpOdd;
      break;
    case serial::prEven:
      line.Parity = tpEven;
      break;
    case serial::prMark:
      line.Parity = tpMark;
      break;
    case serial::prSpace:
      line.Parity = tpSpace;
      break;
  }
  return line;
}

void TComTerminal::Write(std::string_view bytes) {
  Show(bytes);
}

void TComTerminal::SendText(std::string_view text) {
  switch (settings_.SendLineEnd) {
    case tlAsIs:
      Send(text);
      break;
    case tlCRLF:
      Send(MakeLineEnds(text, "\r\n"));
      break;
    case tlLF:
      Send(MakeLineEnds(text, "\n"));
      break;
  }
}

void TComTerminal::SendKey(TTermKey key) {
  Send(decoder_.KeyBytes(key));
}

void TComTerminal::Clear() {
  decoder_.Reset();
  screen_.SetAutoWrap(settings_.WrapLines);
  crPending_ = false;
  ClearSelection();
  Follow();
}

// --- Settings

void TComTerminal::SetEmulation(TTermEmulation value) {
  settings_.Emulation = value;
  decoder_.SetEmulation(value);  // back to the Columns() setting after DECCOLM
  FitWidth();
  viewport()->update();
}

void TComTerminal::SetColumns(int value) {
  settings_.Columns = std::clamp(value, 1, TTermScreen::kMaxColumns);
  screen_.SetSize(settings_.Columns, settings_.Rows);
  updateGeometry();
  Follow();
}

void TComTerminal::SetRows(int value) {
  settings_.Rows = std::clamp(value, 1, TTermScreen::kMaxRows);
  screen_.SetSize(settings_.Columns, settings_.Rows);
  updateGeometry();
  Follow();
}

void TComTerminal::SetWrapLines(bool value) {
  settings_.WrapLines = value;
  screen_.SetAutoWrap(value);
}

void TComTerminal::SetScrollBack(int lines) {
  settings_.ScrollBack = std::clamp(lines, 0, TTermScreen::kMaxHistory);
  screen_.SetHistoryLimit(settings_.ScrollBack);
  Follow();
}

void TComTerminal::SetFontName(const std::string& value) {
  settings_.FontName = value;
  ApplyFont();
}

void TComTerminal::SetFontSize(int points) {
  settings_.FontSize = std::clamp(points, 1, 144);
  ApplyFont();
}

void TComTerminal::SetSettings(const TTermSettings& value) {
  SetEmulation(value.Emulation);
  settings_.Columns = std::clamp(value.Columns, 1, TTermScreen::kMaxColumns);
  SetRows(value.Rows);  // applies the columns too
  SetLocalEcho(value.LocalEcho);
  SetSendLineEnd(value.SendLineEnd);
  SetReceiveLineEnd(value.ReceiveLineEnd);
  SetWrapLines(value.WrapLines);
  SetScrollBack(value.ScrollBack);
  settings_.FontName = value.FontName;
  SetFontSize(value.FontSize);  // applies the name too
}

void TComTerminal::StoreSettings(serial::TIniDocument& document, std::string_view section) const {
  for (const auto& [key, value] : TermSettingsToValues(settings_)) {
    document.WriteString(section, key, value);
  }
}

void TComTerminal::LoadSettings(const serial::TIniDocument& document, std::string_view section) {
  if (!document.HasSection(section)) {
    serial::RaiseComError(serial::ecode::kLoadSettings, -1,
                          "no section [" + std::string(section) + "]");
  }
  TTermSettings read = settings_;
  ValuesToTermSettings(document.ReadSection(section), read);
  SetSettings(read);
}

void TComTerminal::StoreIniFile(const std::string& fileName, const std::string& section) const {
  const auto text = serial::ReadSettingsFile(fileName, serial::ecode::kStoreSettings);
  serial::TIniDocument document(text.value_or(""));
  try {
    StoreSettings(document, section);
  } catch (const std::invalid_argument& e) {
    serial::RaiseComError(serial::ecode::kStoreSettings, EINVAL,
                          std::string(e.what()) + " in " + fileName);
  }
  serial::ReplaceSettingsFile(fileName, document.Text(), serial::ecode::kStoreSettings);
}

void TComTerminal::LoadIniFile(const std::string& fileName, const std::string& section) {
  const auto text = serial::ReadSettingsFile(fileName, serial::ecode::kLoadSettings);
  if (!text) serial::RaiseComError(serial::ecode::kLoadSettings, ENOENT, "no file " + fileName);
  const serial::TIniDocument document(*text);
  const std::string where = "section [" + section + "] of " + fileName;
  if (!document.HasSection(section)) {
    serial::RaiseComError(serial::ecode::kLoadSettings, -1, "no " + where);
  }
  try {
    LoadSettings(document, section);
  } catch (const serial::EComConvert& e) {
    serial::RaiseComError(serial::ecode::kLoadSettings, -1, std::string(e.what()) + " in " + where);
  }
}

}  // namespace widgets
