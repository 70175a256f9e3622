// The signal lamp: bound to a port on the fake line, it follows the link events of its signal,
// in every delivery mode, and refuses to be set by hand while it belongs to a port.

#include <gtest/gtest.h>

#include <QAccessible>

#include <QtTest/QTest>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "platform/MessageLoop.h"
#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "widgets/ComLed.h"

namespace widgets::test {
namespace {

using namespace std::chrono_literals;

// A generous bound; a pass never waits this long.
constexpr int kDeadlineMs = 20000;

struct LampRig {
  explicit LampRig(serial::TSyncMethod mode = serial::smThreadSync) {
    port.SetDeviceOpener(platform::FakeOpener(line));
    port.SetSyncMethod(mode);
    for (TLedSignal s : {lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsTx, lsRx}) {
      auto lamp = std::make_unique<TComLed>();
      lamp->SetLedSignal(s);
      lamp->SetActivityTime(30);
      lamp->SetComPort(&port);
      lamps[s] = std::move(lamp);
    }
  }
  ~LampRig() {
    if (port.Connected()) port.Close();
    lamps.clear();  // before the port: each lamp unregisters its link
  }

  bool Lit(TLedSignal s) const { return lamps.at(s)->State(); }
  // The lamp's name and state as a screen reader reads them.
  std::string Read(TLedSignal s) const {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(lamps.at(s).get());
    return (face->text(QAccessible::Name) + " / " + face->text(QAccessible::Description))
        .toStdString();
  }
  // Runs the Qt loop, which serves what the port's worker handed over, until `done` holds.
  template <typename P>
  bool Until(P done) {
    return QTest::qWaitFor(
        [&] {
          platform::ProcessMessages();
          return done();
        },
        kDeadlineMs);
  }

  std::shared_ptr<platform::FakeLine> line = std::make_shared<platform::FakeLine>();
  serial::TComPort port;
  std::map<TLedSignal, std::unique_ptr<TComLed>> lamps;
};

TEST(ComLed, LineLampsFollowTheirSignalFromOpenToClose) {
  LampRig rig;
  rig.line->SetModemStatus(platform::kMsCtsOn | platform::kMsRlsdOn);
  rig.port.Open();  // the port reports the lines' first state as it opens
  EXPECT_TRUE(rig.Lit(lsConn));
  EXPECT_TRUE(rig.Lit(lsCTS));
  EXPECT_FALSE(rig.Lit(lsDSR));
  EXPECT_TRUE(rig.Lit(lsRLSD));
  EXPECT_EQ(rig.Read(lsCTS), "CTS / CTS on");
  EXPECT_EQ(rig.Read(lsDSR), "DSR / DSR off");

  rig.line->SetModemStatus(platform::kMsDsrOn);
  rig.port.CallCTSChange();
  rig.port.CallDSRChange();
  rig.port.CallRLSDChange();
  EXPECT_FALSE(rig.Lit(lsCTS));
  EXPECT_TRUE(rig.Lit(lsDSR));
  EXPECT_FALSE(rig.Lit(lsRLSD));
  EXPECT_FALSE(rig.Lit(lsRing));
  EXPECT_EQ(rig.Read(lsCTS), "CTS / CTS off");
  // A caption names the lamp.
  rig.lamps[lsDSR]->SetCaption("Data set ready");
  EXPECT_EQ(rig.Read(lsDSR), "Data set ready / Data set ready on");

  rig.port.Close();
  for (TLedSignal s : {lsConn, lsCTS, lsDSR, lsRLSD}) EXPECT_FALSE(rig.Lit(s)) << s;
}

TEST(ComLed, ActivityLampsLightForTheirTimeAfterEachEvent) {
  LampRig rig;
  rig.port.Open();
  const std::string bytes = "query\r";
  rig.port.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  EXPECT_TRUE(rig.Lit(lsTx));
  EXPECT_FALSE(rig.Lit(lsRx));
  rig.line->PutInput("reply\r");
  rig.port.CallRxChar();
  rig.port.CallRing();
  EXPECT_TRUE(rig.Lit(lsRx));
  EXPECT_TRUE(rig.Lit(lsRing));
  // Each goes out by itself once its time is up, with no further event.
  EXPECT_TRUE(rig.Until([&] { return !rig.Lit(lsTx) && !rig.Lit(lsRx) && !rig.Lit(lsRing); }));
  EXPECT_TRUE(rig.Lit(lsConn));
}

// A port that delivers in its own thread: the lamp still changes on the thread that owns it.
TEST(ComLed, EventsDeliveredInThePortsThreadReachTheLamp) {
  LampRig rig(serial::smNone);
  rig.port.Open();
  ASSERT_TRUE(rig.line->WaitForCommWait(10s));
  int changes = 0;
  rig.lamps[lsCTS]->OnChange = [&](TComLed& lamp) {
    EXPECT_EQ(QThread::currentThread(), lamp.thread());
    ++changes;
  };
  rig.line->SetModemStatus(platform::kMsCtsOn);
  rig.line->RaiseCommEvent(platform::kEvCts);
  EXPECT_TRUE(rig.Until([&] { return rig.Lit(lsCTS); }));
  EXPECT_EQ(changes, 1);
}

TEST(ComLed, ABoundLampBelongsToItsPort) {
  LampRig rig;
  try {
    rig.lamps[lsCTS]->SetState(true);
    FAIL() << "a bound lamp was set by hand";
  } catch (const serial::EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), serial::ecode::kLedState);
  }
  TComLed loose;
  loose.SetState(true);
  EXPECT_TRUE(loose.State());

  // Bound to a port already open, a lamp reads the line once instead of waiting for a change.
  rig.line->SetModemStatus(platform::kMsDsrOn);
  rig.port.Open();
  rig.lamps.erase(lsDSR);
  TComLed late;
  late.SetLedSignal(lsDSR);
  late.SetComPort(&rig.port);
  EXPECT_TRUE(late.State());
  EXPECT_EQ(rig.line->CountCalls("GetCommModemStatus") > 0, true);
  late.SetComPort(nullptr);
  EXPECT_FALSE(late.State());
}

}  // namespace
}  // namespace widgets::test
