// TTermWindow: construction, building the widgets, fitting the screen, showing the settings.
#include "tools/term/TermWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "serial/ComError.h"
#include "serial/extras/ComSettingsStorage.h"
#include "widgets/ComComboBox.h"
#include "widgets/ComTerminal.h"
#include "widgets/TermSettings.h"

namespace term {
namespace {

constexpr int kWatchMs = 250;

}  // namespace

TTermWindow::TTermWindow(std::string settingsFile, QWidget* parent)
    : QMainWindow(parent), settingsFile_(std::move(settingsFile)) {
  setWindowTitle(QStringLiteral("Valtrex service terminal"));
  // No port is guessed: the operator picks one from the list or types it.
  port_.SetPort("");
  port_.SetStorage(std::make_shared<serial::TComSettingsStorage>());
  BuildWidgets();

  link_.OnRxBuf = [this](serial::TCustomComPort&, const void* buffer, int32_t count) {
    std::string bytes(static_cast<const char*>(buffer), static_cast<size_t>(count));
    OnGuiThread([this, bytes = std::move(bytes)]() mutable { Received(std::move(bytes)); });
  };
  link_.OnConn = [this](serial::TCustomComPort&, bool on) {
    OnGuiThread([this, on] { ShowConnection(on); });
  };
  port_.RegisterLink(&link_);
  port_.OnError = [this](serial::TCustomComPort&, serial::TComErrors errors) {
    OnGuiThread([this, errors] { LineErrors(errors); });
  };
  packet_.SetComPort(&port_);
  packet_.OnPacket = [this](serial::TComDataPacket&, const std::string& bytes) {
    OnGuiThread([this, bytes] { ShowPacket(bytes); });
  };

  lineWatch_.setInterval(kWatchMs);
  QObject::connect(&lineWatch_, &QTimer::timeout, this, [this] { WatchLine(); });

  widgets::TTermSettings screen = terminal_->Settings();
  // The window is first of all for the generator, which answers in lines.
  screen.Emulation = widgets::tePlain;
  screen.ReceiveLineEnd =
      NewLineOnCRByDefault(screen.Emulation) ? widgets::tlCRLF : widgets::tlAsIs;
  terminal_->SetSettings(screen);
  LoadSettings();
  ShowTerminalSettings();
  ApplyPacketStrings();
  ShowConnection(false);
  SizeToScreen();
}

TTermWindow::~TTermWindow() {
  closing_ = true;
  lineWatch_.stop();
  try {
    port_.Close();
  } catch (const std::exception&) {
    // Going away: nobody is left to tell.
  }
  packet_.SetComPort(nullptr);
  port_.UnRegisterLink(&link_);
  // The selectors and lamps unbind from the port as they go; they go before it.
  for (widgets::TComLed* led : leds_) led->SetComPort(nullptr);
  portBox_->SetComPort(nullptr);
  terminal_->SetComPort(nullptr);
}

template <typename F>
void TTermWindow::OnGuiThread(F call) {
  // A port that delivers in its own thread calls from there; the window changes only on its own.
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    return;
  }
  call();
}

void TTermWindow::BuildWidgets() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  // The line: port, open and close, setup, lamps.
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("&Port:"), central));
  portBox_ = new widgets::TComComboBox(central);
  portBox_->SetComSetting(widgets::csPort);
  portBox_->SetComPort(&port_);
  portBox_->setMinimumWidth(180);
  portBox_->OnError = [this](widgets::TComComboBox&, const serial::EComPort& e) {
    Status(QStringLiteral("Port: %1").arg(FailureText(e)));
  };
  static_cast<QLabel*>(top->itemAt(0)->widget())->setBuddy(portBox_);
  portBox_->setAccessibleName(QStringLiteral("Port"));
  top->addWidget(portBox_);
  connect_ = new QPushButton(QStringLiteral("&Connect"), central);
  disconnect_ = new QPushButton(QStringLiteral("&Disconnect"), central);
  lineDialog_ = new QPushButton(QStringLiteral("&Line..."), central);
  advancedDialog_ = new QPushButton(QStringLiteral("&Advanced..."), central);
  for (QPushButton* b : {connect_, disconnect_, lineDialog_, advancedDialog_}) top->addWidget(b);
  QObject::connect(connect_, &QPushButton::clicked, this, [this] { Connect(); });
  QObject::connect(disconnect_, &QPushButton::clicked, this, [this] { Disconnect(); });
  QObject::connect(lineDialog_, &QPushButton::clicked, this, [this] { OpenLineDialog(); });
  QObject::connect(advancedDialog_, &QPushButton::clicked, this, [this] { OpenAdvancedDialog(); });
  top->addSpacing(12);
  const std::pair<widgets::TLedSignal, const char*> lamps[] = {
      {widgets::lsCTS, "CTS"},   {widgets::lsDSR, "DSR"}, {widgets::lsRLSD, "RLSD"},
      {widgets::lsRing, "Ring"}, {widgets::lsTx, "TX"},   {widgets::lsRx, "RX"}};
  for (size_t i = 0; i < leds_.size(); ++i) {
    auto* led = new widgets::TComLed(central);
    led->SetLedSignal(lamps[i].first);
    led->SetCaption(QString::fromLatin1(lamps[i].second));
    led->SetComPort(&port_);
    leds_[i] = led;
    top->addWidget(led);
  }
  top->addStretch(1);
  layout->addLayout(top);

  // What comes in: the screen, the hex view beside it, the packets below.
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* views = views_ = new QSplitter(Qt::Horizontal, central);
  // The control shows what the port receives and sends what is typed on it by itself.
  terminal_ = new widgets::TComTerminal(views);
  terminal_->SetComPort(&port_);
  views->addWidget(terminal_);
  hexView_ = new THexView(5000, views);
  hexView_->setFont(fixed);
  hexView_->setAccessibleName(QStringLiteral("Hex view"));
  views->addWidget(hexView_);
  // The screen keeps its width and the hex view takes what is left: when there is too little,
  // the hex view gives way first.
  views->setStretchFactor(0, 0);
  views->setStretchFactor(1, 1);
  views->setCollapsible(0, false);

  auto* packets = new QGroupBox(QStringLiteral("Packets"), central);
  auto* packetLayout = new QVBoxLayout(packets);
  auto* strings = new QHBoxLayout;
  packetStart_ = new QLineEdit(packets);
  packetStop_ = new QLineEdit(packets);
  packetStart_->setPlaceholderText(QStringLiteral("none"));
  packetStop_->setPlaceholderText(QStringLiteral("none"));
  packetStart_->setToolTip(QStringLiteral("Escapes: \\r \\n \\t \\\\ \\xHH"));
  packetStop_->setToolTip(packetStart_->toolTip());
  auto* startLabel = new QLabel(QStringLiteral("Start:"), packets);
  auto* stopLabel = new QLabel(QStringLiteral("Stop:"), packets);
  startLabel->setBuddy(packetStart_);
  stopLabel->setBuddy(packetStop_);
  packetStart_->setAccessibleName(QStringLiteral("Packet start"));
  packetStop_->setAccessibleName(QStringLiteral("Packet stop"));
  strings->addWidget(startLabel);
  strings->addWidget(packetStart_);
  strings->addWidget(stopLabel);
  strings->addWidget(packetStop_);
  decode_ = new QCheckBox(QStringLiteral("Decode &generator frames"), packets);
  decode_->setToolTip(
      QStringLiteral("Show what each packet means to the generator, and the frames sent too"));
  strings->addWidget(decode_);
  QObject::connect(decode_, &QCheckBox::toggled, this, [this] { sentPackets_.Clear(); });
  packetLayout->addLayout(strings);
  QObject::connect(packetStart_, &QLineEdit::editingFinished, this,
                   [this] { ApplyPacketStrings(); });
  QObject::connect(packetStop_, &QLineEdit::editingFinished, this,
                   [this] { ApplyPacketStrings(); });
  packetView_ = new TTextLinesView(5000, packets);
  packetView_->setFont(fixed);
  packetView_->setAccessibleName(QStringLiteral("Packets"));
  packetLayout->addWidget(packetView_);

  auto* inbound = inbound_ = new QSplitter(Qt::Vertical, central);
  inbound->addWidget(views);
  inbound->addWidget(packets);
  inbound->setStretchFactor(0, 3);
  inbound->setStretchFactor(1, 1);
  layout->addWidget(inbound, 1);

  // What goes out.
  auto* bottom = new QHBoxLayout;
  sendEdit_ = new QLineEdit(central);
  sendEdit_->setFont(fixed);
  sendEdit_->setPlaceholderText(QStringLiteral("A line to send"));
  // These have no label beside them: their names say what a label would.
  sendEdit_->setAccessibleName(QStringLiteral("Line to send"));
  lineEnd_ = new QComboBox(central);
  for (TLineEnd end : {leAsIs, leCR, leLF, leCRLF}) {
    lineEnd_->addItem(QString::fromStdString(LineEndToStr(end)));
  }
  send_ = new QPushButton(QStringLiteral("&Send"), central);
  sendFile_ = new QPushButton(QStringLiteral("Send &file..."), central);
  hexShown_ = new QCheckBox(QStringLiteral("&Hex"), central);
  emulation_ = new QComboBox(central);
  for (widgets::TTermEmulation e :
       {widgets::teVT52, widgets::teVT100, widgets::teANSI, widgets::tePlain}) {
    emulation_->addItem(QString::fromStdString(widgets::EmulationToStr(e)));
  }
  emulation_->setToolTip(QStringLiteral("Terminal emulation"));
  emulation_->setAccessibleName(emulation_->toolTip());
  lineEnd_->setAccessibleName(QStringLiteral("Line end"));
  echo_ = new QCheckBox(QStringLiteral("&Echo"), central);
  echo_->setToolTip(QStringLiteral("Show what is sent from the terminal on its screen too"));
  newLineOnCR_ = new QCheckBox(QStringLiteral("New line on C&R"), central);
  newLineOnCR_->setToolTip(
      QStringLiteral("Each CR, LF or CR+LF received starts a line. Off, a CR returns to the "
                     "line's start and an LF moves down, as on a VT100."));
  auto* clear = new QPushButton(QStringLiteral("C&lear"), central);
  bottom->addWidget(sendEdit_, 1);
  bottom->addWidget(lineEnd_);
  bottom->addWidget(send_);
  bottom->addWidget(sendFile_);
  bottom->addWidget(emulation_);
  bottom->addWidget(newLineOnCR_);
  bottom->addWidget(echo_);
  bottom->addWidget(hexShown_);
  bottom->addWidget(clear);
  layout->addLayout(bottom);
  QObject::connect(sendEdit_, &QLineEdit::returnPressed, this, [this] { SendLine(); });
  QObject::connect(send_, &QPushButton::clicked, this, [this] { SendLine(); });
  QObject::connect(sendFile_, &QPushButton::clicked, this, [this] { ChooseAndSendFile(); });
  QObject::connect(hexShown_, &QCheckBox::toggled, hexView_, &QWidget::setVisible);
  QObject::connect(clear, &QPushButton::clicked, this, [this] { ClearViews(); });
  QObject::connect(emulation_, &QComboBox::activated, this, [this](int index) {
    const auto emulation = static_cast<widgets::TTermEmulation>(index);
    terminal_->SetEmulation(emulation);
    // Another emulation brings its own way with CR; the box can change it again afterwards.
    const QSignalBlocker quiet(newLineOnCR_);
    newLineOnCR_->setChecked(NewLineOnCRByDefault(emulation));
    ApplyNewLineOnCR();
  });
  QObject::connect(newLineOnCR_, &QCheckBox::toggled, this, [this] { ApplyNewLineOnCR(); });
  QObject::connect(echo_, &QCheckBox::toggled, this,
                   [this](bool on) { terminal_->SetLocalEcho(on); });

  setCentralWidget(central);
  statusBar()->setSizeGripEnabled(true);
}

void TTermWindow::SizeToScreen() {
  // The screen whole at its font, the hex view beside it, the packets below: as much of that as
  // the screen has room for.
  const QSize screen = terminal_->sizeHint();
  const int hex = hexShown_->isChecked() ? hexView_->sizeHint().width() : 0;
  views_->setSizes({screen.width(), hex});
  const int packets = std::max(inbound_->widget(1)->sizeHint().height(), screen.height() / 3);
  inbound_->setSizes({screen.height(), packets});
  QSize want = sizeHint();
  want.rwidth() = std::max(want.width(), centralWidget()->layout()->contentsMargins().left() +
                                             centralWidget()->layout()->contentsMargins().right() +
                                             screen.width() + hex + views_->handleWidth());
  // The rest of the window as it asks for it, and the screen and the packets as wanted here.
  want.rheight() = std::max(want.height(), want.height() - inbound_->sizeHint().height() +
                                               screen.height() + packets + inbound_->handleWidth());
  if (const QScreen* display = this->screen()) {
    want = want.boundedTo(display->availableGeometry().size());
  }
  resize(want);
}

widgets::TComLed& TTermWindow::Led(widgets::TLedSignal signal) {
  for (widgets::TComLed* led : leds_) {
    if (led->LedSignal() == signal) return *led;
  }
  return *leds_.front();
}

QString TTermWindow::StatusText() const {
  return statusBar()->currentMessage();
}

void TTermWindow::Status(const QString& text) {
  statusBar()->showMessage(text);
}

TWindowSettings TTermWindow::WindowSettings() const {
  TWindowSettings s;
  s.LineEnd = static_cast<TLineEnd>(std::max(lineEnd_->currentIndex(), 0));
  s.HexView = hexShown_->isChecked();
  s.PacketStart = packetStart_->text().toStdString();
  s.PacketStop = packetStop_->text().toStdString();
  s.DecodeFrames = decode_->isChecked();
  return s;
}

void TTermWindow::ShowWindowSettings(const TWindowSettings& s) {
  lineEnd_->setCurrentIndex(s.LineEnd);
  hexShown_->setChecked(s.HexView);
  hexView_->setVisible(s.HexView);
  packetStart_->setText(QString::fromStdString(s.PacketStart));
  packetStop_->setText(QString::fromStdString(s.PacketStop));
  decode_->setChecked(s.DecodeFrames);
}

void TTermWindow::ShowTerminalSettings() {
  emulation_->setCurrentIndex(terminal_->Emulation());
  echo_->setChecked(terminal_->LocalEcho());
  // Shown, not applied: a stored LF line end stays until the box is changed.
  const QSignalBlocker quiet(newLineOnCR_);
  newLineOnCR_->setChecked(terminal_->ReceiveLineEnd() == widgets::tlCRLF);
}

void TTermWindow::ApplyNewLineOnCR() {
  terminal_->SetReceiveLineEnd(newLineOnCR_->isChecked() ? widgets::tlCRLF : widgets::tlAsIs);
}

}  // namespace term
