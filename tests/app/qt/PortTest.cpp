// The window with its port: Connect from the widgets, a port that fails under the running
// timer, the port closed with the window, and a live exchange with the simulated generator on a
// pseudo-terminal.

#include <unistd.h>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/GeneratorParameters.h"
#include "platform/MessageLoop.h"
#include "serial/extras/ComPortInfo.h"
#include "tests/app/qt/QtTestSupport.h"
#include "tools/sim/PtyEndpoint.h"

namespace app::test {
namespace {

using protocol::ParamId;

// Counts the ticks of the window's clock from now on.
struct TTickCounter {
  int ticks = 0;
  QMetaObject::Connection connection;
  explicit TTickCounter(TMainWindow& window) {
    connection = QObject::connect(&window.Clock(), &QTimer::timeout, [this] { ++ticks; });
  }
  ~TTickCounter() { QObject::disconnect(connection); }
  TTickCounter(const TTickCounter&) = delete;
  TTickCounter& operator=(const TTickCounter&) = delete;
};

using PortWindow = TWindowFixture;

TEST_F(PortWindow, ConnectOpensTheTypedNameAndTheFirstTickHidesBusy) {
  TypePortAndConnect(kFakePort);
  EXPECT_TRUE(line->IsOpen());
  EXPECT_EQ(line->OpenName(), kFakePort);
  EXPECT_TRUE(WaitUntil([&] { return !W<QLabel>("Lcpb")->isVisible(); }));

  // Destroying the window destroys the form and with it CP, which closes the port.
  window.reset();
  EXPECT_FALSE(line->IsOpen());
}

// The drop-down reads the machine's ports as it opens: a simulator's link that appears while the
// window is up is in the list the next time, after the layout's names and with its tool tip, and
// picking nothing leaves the typed text alone.
TEST_F(PortWindow, TheDropDownListsTheLayoutsNamesThenThePortsFoundAsItOpens) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  sim::PtyEndpoint generator;
  const std::string link = serial::MakeVirtualPortFolder() + "/valtrex-sim";
  ASSERT_EQ(symlink(generator.SlavePath().c_str(), link.c_str()), 0) << std::strerror(errno);

  auto* box = W<QComboBox>("CB");
  box->setEditText("typed");
  const int before = box->count();
  box->showPopup();
  ASSERT_TRUE(WaitUntil([&] { return box->view()->isVisible(); }));
  const QStringList layout{"COM1", "COM2", "COM3", "COM4", "COM5",
                           "COM6", "COM7", "COM8", "COM9", "COM10"};
  EXPECT_EQ(before, layout.size());
  for (int i = 0; i < layout.size(); ++i) EXPECT_EQ(box->itemText(i), layout[i]);
  const int found = box->findText(QString::fromStdString(link));
  ASSERT_GE(found, layout.size());
  EXPECT_EQ(box->itemData(found, Qt::ToolTipRole).toString().toStdString(),
            "virtual port, " + generator.SlavePath());
  EXPECT_GE(box->view()->width(), box->width());
  box->hidePopup();
  EXPECT_EQ(box->currentText(), "typed");
  EXPECT_EQ(form.CB.Text(), "typed");

  unlink(link.c_str());
  if (saved.isNull())
    qunsetenv("XDG_RUNTIME_DIR");
  else
    qputenv("XDG_RUNTIME_DIR", saved);
}

TEST_F(PortWindow, AFailedConnectIsSilent) {
  TErrorRecorder errors;
  TTickCounter counter(*window);
  TypePortAndConnect("ttyNONE7");
  ASSERT_TRUE(WaitUntil([&] { return counter.ticks >= 5; }));
  EXPECT_TRUE(errors.Messages().empty());
  EXPECT_TRUE(W<QLabel>("Lcpb")->isVisible());
  EXPECT_FALSE(line->IsOpen());
}

TEST_F(PortWindow, AFailingPortShowsOneBoxNotOnePerTick) {
  TErrorRecorder errors;
  TypePortAndConnect(kFakePort);
  ASSERT_TRUE(WaitUntil([&] { return !W<QLabel>("Lcpb")->isVisible(); }));

  // The box stays up for several tick periods, as it would until the operator closes it.
  TTickCounter counter(*window);
  bool boxOutlastedTicks = false;
  errors.WhileShown([&] {
    QTimer periods;
    int passed = 0;
    QObject::connect(&periods, &QTimer::timeout, [&] { ++passed; });
    periods.start(window->Clock().interval());
    boxOutlastedTicks = WaitUntil([&] { return passed >= 5; });
  });
  line->SetFailure("ReadFile", EIO);
  ASSERT_TRUE(WaitUntil([&] { return !errors.Messages().empty(); }));
  const int afterBox = counter.ticks;
  ASSERT_TRUE(WaitUntil([&] { return counter.ticks >= afterBox + 10; }));

  EXPECT_TRUE(boxOutlastedTicks);
  EXPECT_EQ(errors.Messages().size(), 1u);
  EXPECT_NE(errors.Messages()[0].find("ReadFile"), std::string::npos) << errors.Messages()[0];
  // The port is let go and the operator told so, until Connect succeeds again.
  EXPECT_FALSE(form.CP.Connected());
  EXPECT_TRUE(W<QLabel>("Lcpb")->isVisible());
  line->SetFailure("ReadFile", 0);
  TypePortAndConnect(kFakePort);
  EXPECT_TRUE(WaitUntil([&] { return !W<QLabel>("Lcpb")->isVisible(); }));
}

// The real device opener on a pseudo-terminal served by the simulator.
TEST(LiveWindow, ExchangeWithTheSimulatorUpdatesTheWidgets) {
  sim::PtyEndpoint generator;
  TMainWindow window;  // the operating system's devices: only the pseudo-terminal is typed
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  TMainForm& form = window.Form();
  auto* combo = window.WidgetAs<QComboBox>("CB");
  combo->lineEdit()->selectAll();
  QTest::keyClicks(combo->lineEdit(), QString::fromStdString(generator.SlavePath()));
  ASSERT_EQ(form.CB.Text(), generator.SlavePath());
  QTest::mouseClick(window.WidgetAs<QPushButton>("BO"), Qt::LeftButton);
  ASSERT_TRUE(form.CP.Connected());

  auto edit = [&](const char* name) {
    return window.WidgetAs<QLineEdit>(name)->text().toStdString();
  };
  // The start-up pass takes 18 ticks; then the telemetry comes every four.
  ASSERT_TRUE(WaitUntil([&] {
    return window.WidgetAs<QLabel>("Lsr")->text() != "Unknown" &&
           edit("Efreq") != protocol::kWaitingText && edit("Eacc") != protocol::kWaitingText;
  }));
  EXPECT_FALSE(window.WidgetAs<QLabel>("Lcpb")->isVisible());

  std::optional<int> frequency;
  generator.Inspect([&](const sim::Generator& g) { frequency = g.Model().Value('f'); });
  ASSERT_TRUE(frequency.has_value());
  const int32_t position = form.Slider(ParamId::freq).Position();
  EXPECT_EQ(window.WidgetAs<QSlider>("TBfreq")->value(), position);
  EXPECT_EQ(position, *frequency / 10);
  EXPECT_EQ(edit("Efreq"),
            protocol::FormatValue(ParamId::freq, form.Parameter(ParamId::freq).Pending));

  // An operator's key reaches the generator at the next flush.
  auto* slider = window.WidgetAs<QSlider>("TBfreq");
  QTest::keyClick(slider, Qt::Key_PageDown);
  const int expected = std::min(position + 2, form.Slider(ParamId::freq).Max()) * 10;
  EXPECT_TRUE(WaitUntil([&] {
    std::optional<int> now;
    generator.Inspect([&](const sim::Generator& g) { now = g.Model().Value('f'); });
    return now == expected;
  }));
}

// The port's event thread hands its deliveries to the Qt loop: a worker's call queued for the
// main thread posts an event, and the loop runs the call from it.
TEST(LiveWindow, PortEventsRunInTheQtLoop) {
  for (serial::TSyncMethod mode : {serial::smThreadSync, serial::smWindowSync}) {
    sim::PtyEndpoint generator;
    serial::TComPort port;
    port.SetPort(generator.SlavePath());
    port.SetSyncMethod(mode);
    bool onMainThread = false;
    std::string got;
    port.OnRxChar = [&](serial::TCustomComPort& p, int32_t count) {
      onMainThread = platform::IsMainThread();
      std::string bytes(static_cast<size_t>(count), '\0');
      bytes.resize(static_cast<size_t>(std::max(p.Read(bytes.data(), count), 0)));
      got += bytes;
    };
    port.Open();
    // The simulator answers the release query.
    ASSERT_EQ(port.WriteStr("@01SR\r"), 6);
    EXPECT_TRUE(WaitUntil([&] { return got.find('\r') != std::string::npos; })) << mode;
    EXPECT_TRUE(onMainThread) << mode;
    EXPECT_EQ(got.substr(0, 3), "#02") << mode;
    port.Close();
  }
}

}  // namespace
}  // namespace app::test
