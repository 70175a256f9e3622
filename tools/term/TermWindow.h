#pragma once
// The service terminal's window: a port chosen by name, opened and closed by the operator, its
// line and the rest of its settings in the setup dialogs, the modem lamps, a screen for what is
// received with a hex view beside it, a packet view cutting the received bytes by start and
// stop strings, a send box for one line with the chosen line end, and sending a file.
//
// Every outcome and failure shows in the status line, none in a box of its own: a terminal is
// watched while things happen on the line, and a lost adapter must not pile up boxes. A port that
// is lost (its device gone, a transfer failing) is closed and told once; Connect opens it again
// once it is back.
//
// The settings (the port's, the terminal control's and the window's own) are loaded from their file
// when the window is made and stored there when it closes. They are read value by value: one that
// does not read is named in the status line, its default used, and its line left in the file as
// it was unless the operator sets that value; a file that does not read at all is told once and
// the defaults are used.
//
// The window takes the size that shows the terminal's whole screen with the hex view beside it,
// as far as the screen allows; where it cannot, the hex view gives way first.

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serial/ComLink.h"
#include "serial/ComPort.h"
#include "serial/extras/ComDataPacket.h"
#include "tools/term/LineViews.h"
#include "tools/term/WindowSettings.h"
#include "widgets/ComLed.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSplitter;

namespace widgets {
class TComComboBox;
class TComTerminal;
}  // namespace widgets

namespace term {

class TTermWindow : public QMainWindow {
 public:
  // `settingsFile`: where the settings are loaded from now and stored at close.
  explicit TTermWindow(std::string settingsFile, QWidget* parent = nullptr);
  ~TTermWindow() override;
  TTermWindow(const TTermWindow&) = delete;
  TTermWindow& operator=(const TTermWindow&) = delete;

  serial::TComPort& Port() { return port_; }
  widgets::TComTerminal& Terminal() { return *terminal_; }
  widgets::TComComboBox& PortBox() { return *portBox_; }
  QLineEdit& SendEdit() { return *sendEdit_; }
  QComboBox& LineEndBox() { return *lineEnd_; }
  THexView& HexView() { return *hexView_; }
  QCheckBox& HexShownBox() { return *hexShown_; }
  QComboBox& EmulationBox() { return *emulation_; }
  QCheckBox& EchoBox() { return *echo_; }
  // Whether a received CR starts a new line (the terminal's receive line end CR, LF or CR+LF
  // against as is); each emulation brings its own default.
  QCheckBox& NewLineOnCRBox() { return *newLineOnCR_; }
  TTextLinesView& PacketView() { return *packetView_; }
  QLineEdit& PacketStartEdit() { return *packetStart_; }
  QLineEdit& PacketStopEdit() { return *packetStop_; }
  QCheckBox& DecodeBox() { return *decode_; }
  widgets::TComLed& Led(widgets::TLedSignal signal);
  QString StatusText() const;

  // The window's own settings (send box, hex view, packets) as it shows them now.
  TWindowSettings WindowSettings() const;

  // What the buttons do.
  void Connect();
  void Disconnect();
  void SendLine();
  void SendFile(const QString& fileName);
  void ChooseAndSendFile();
  void OpenLineDialog();
  void OpenAdvancedDialog();
  void ApplyPacketStrings();
  void ClearViews();
  // Stores the settings now, as closing the window does; false (told in the status line) when
  // they could not be written.
  bool SaveSettings();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void LoadSettings();
  void ShowWindowSettings(const TWindowSettings& settings);
  void ShowTerminalSettings();
  void ApplyNewLineOnCR();
  void SizeToScreen();
  QString FailureText(const std::exception& e) const;
  // Reads a section's values one by one over `settings`, keeping those that do not read.
  template <typename S, typename Read, typename Write>
  S ReadSection(const char* section, S settings, Read read, Write write);
  void WriteSection(serial::TIniDocument& document, const char* section,
                    const serial::TSettingValues& values) const;
  void Status(const QString& text);
  void ShowConnection(bool connected);
  void Received(std::string bytes);
  void ShowPacket(const std::string& bytes, bool sent = false);
  void LineErrors(serial::TComErrors errors);
  void WatchLine();
  void LosePort(const std::string& reason);
  bool Send(std::string_view bytes);
  std::string LineDescription() const;
  template <typename F>
  void OnGuiThread(F call);

  std::string settingsFile_;
  serial::TComPort port_;
  serial::TComLink link_;
  serial::TComDataPacket packet_;
  widgets::TComTerminal* terminal_ = nullptr;
  widgets::TComComboBox* portBox_ = nullptr;
  QPushButton* connect_ = nullptr;
  QPushButton* disconnect_ = nullptr;
  QPushButton* lineDialog_ = nullptr;
  QPushButton* advancedDialog_ = nullptr;
  QLineEdit* sendEdit_ = nullptr;
  QComboBox* lineEnd_ = nullptr;
  QPushButton* send_ = nullptr;
  QPushButton* sendFile_ = nullptr;
  THexView* hexView_ = nullptr;
  QCheckBox* hexShown_ = nullptr;
  QComboBox* emulation_ = nullptr;
  QCheckBox* echo_ = nullptr;
  QCheckBox* newLineOnCR_ = nullptr;
  QSplitter* views_ = nullptr;
  QSplitter* inbound_ = nullptr;
  TTextLinesView* packetView_ = nullptr;
  QLineEdit* packetStart_ = nullptr;
  QLineEdit* packetStop_ = nullptr;
  // With decoding on, what goes out is cut by the same strings and shown beside what comes in.
  QCheckBox* decode_ = nullptr;
  serial::TPacketAssembler sentPackets_;
  std::array<widgets::TComLed*, 6> leds_{};
  // The settings file as read when the window opened, and the values in it that did not read:
  // each with the text the window would write in its place, so that the line stays as it was
  // unless the operator changes that setting.
  serial::TIniDocument document_;
  bool documentRead_ = false;
  struct TKeptValue {
    std::string section;
    std::string key;
    std::string text;     // as the file has it
    std::string written;  // the default in its place, as it would be written
  };
  std::vector<TKeptValue> kept_;
  // While the port is open its device is checked now and then: a device that has gone ends the
  // event thread without a word, and only asking the driver tells.
  QTimer lineWatch_;
  bool closing_ = false;
};

}  // namespace term
