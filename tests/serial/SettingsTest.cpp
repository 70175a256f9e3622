// The settings model and the rule by which a change reaches the driver.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "FakePort.h"

namespace serial::test {
namespace {

using platform::TDCB;
namespace dcb = platform::dcb;

TEST(Settings, ClosedPortStoresAndOpenSendsBuffersThenLineThenTimeouts) {
  FakePort f;
  f.port.SetBaudRate(br19200);
  f.port.Parity().SetBits(prEven);
  f.port.Timeouts().SetReadTotalC(50);
  f.port.Buffer().SetInputSize(2048);
  EXPECT_TRUE(f.line->Calls().empty());

  f.port.Open();
  const std::vector<std::string> expected = {"Open(COM1)", "SetupComm(2048,1024)",
                                             "SetCommState(19200,0x1,8,2,0)",
                                             "SetCommTimeouts(4294967295,0,50,100,1000)"};
  const auto calls = f.line->Calls();
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4), expected);
}

// One setter of each kind: an equal value must reach nobody, a new one exactly its own record.
struct SetterCase {
  const char* name;
  std::function<void(TCustomComPort&, bool change)> set;
  const char* reaches;
};

void PrintTo(const SetterCase& c, std::ostream* os) {
  *os << c.name;
}

class SetterTest : public ::testing::TestWithParam<SetterCase> {};

TEST_P(SetterTest, EqualValueSendsNothingAndChangeSendsOnce) {
  FakePort f;
  f.OpenQuietly();
  GetParam().set(f.port, false);
  EXPECT_TRUE(f.line->Calls().empty());
  GetParam().set(f.port, true);
  EXPECT_EQ(f.line->CallNames(), std::vector<std::string>{GetParam().reaches});
}

INSTANTIATE_TEST_SUITE_P(
    Setters, SetterTest,
    ::testing::Values(
        SetterCase{"BaudRate", [](auto& p, bool c) { p.SetBaudRate(c ? br115200 : br9600); },
                   "SetCommState"},
        SetterCase{"CustomBaudRate", [](auto& p, bool c) { p.SetCustomBaudRate(c ? 31250 : 9600); },
                   "SetCommState"},
        SetterCase{"EventChar", [](auto& p, bool c) { p.SetEventChar(c ? '\r' : 0); },
                   "SetCommState"},
        SetterCase{"ParityReplaceChar",
                   [](auto& p, bool c) { p.Parity().SetReplaceChar(c ? '?' : 0); }, "SetCommState"},
        SetterCase{
            "ControlRTS",
            [](auto& p, bool c) { p.FlowControl().SetControlRTS(c ? rtsToggle : rtsDisable); },
            "SetCommState"},
        SetterCase{"XoffChar", [](auto& p, bool c) { p.FlowControl().SetXoffChar(c ? 2 : 19); },
                   "SetCommState"},
        SetterCase{"ReadInterval",
                   [](auto& p, bool c) { p.Timeouts().SetReadInterval(c ? 10 : -1); },
                   "SetCommTimeouts"},
        SetterCase{"WriteTotalC",
                   [](auto& p, bool c) { p.Timeouts().SetWriteTotalC(c ? 3 : 1000); },
                   "SetCommTimeouts"},
        SetterCase{"OutputSize", [](auto& p, bool c) { p.Buffer().SetOutputSize(c ? 4096 : 1024); },
                   "SetupComm"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Settings, WholeObjectSettersAlwaysApply) {
  FakePort f;
  f.OpenQuietly();
  f.port.SetParity(TComParity(f.port.Parity()));
  f.port.SetFlowControl(TComFlowControl(f.port.FlowControl()));
  f.port.SetTimeouts(TComTimeouts(f.port.Timeouts()));
  f.port.SetBuffer(TComBuffer(f.port.Buffer()));
  EXPECT_EQ(f.line->CallNames(), (std::vector<std::string>{"SetCommState", "SetCommState",
                                                           "SetCommTimeouts", "SetupComm"}));

  // A standalone copy changes without applying; assigning it copies its fields in.
  TComParity odd;
  odd.SetBits(prOdd);
  EXPECT_EQ(odd.ComPort(), nullptr);
  f.port.SetParity(odd);
  EXPECT_EQ(f.port.Parity().Bits(), prOdd);
  EXPECT_EQ(f.port.Parity().ComPort(), &f.port);
  EXPECT_EQ(f.line->LastDCB()->Parity, 1);
}

TEST(Settings, UpdatesAreHeldUntilTheLastEndUpdate) {
  FakePort f;
  f.OpenQuietly();
  f.port.EndUpdate();  // no matching BeginUpdate
  EXPECT_EQ(f.port.UpdateCount(), 0);
  EXPECT_TRUE(f.line->Calls().empty());

  f.port.BeginUpdate();
  f.port.BeginUpdate();
  f.port.SetBaudRate(br38400);
  f.port.Timeouts().SetReadInterval(5);
  f.port.Buffer().SetInputSize(512);
  f.port.EndUpdate();
  EXPECT_TRUE(f.line->Calls().empty());
  f.port.EndUpdate();
  EXPECT_EQ(f.line->CallNames(),
            (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(f.line->LastDCB()->BaudRate, 38400u);
  EXPECT_EQ(f.line->LastTimeouts()->ReadIntervalTimeout, 5u);
}

// What shows a setting learns of every change from the port, the changes of one update once, and
// before the driver sees the value: a refused value has been stored and is told all the same.
TEST(Settings, LinksHearOfEachChangeOnceAndOfAnUpdateAtItsEnd) {
  FakePort f;
  int told = 0;
  std::vector<TBaudRate> seen;
  TComLink link;
  link.OnSettingsChange = [&](TCustomComPort& sender) {
    ++told;
    seen.push_back(sender.BaudRate());
  };
  f.port.RegisterLink(&link);

  f.port.SetBaudRate(br9600);  // the value it holds
  f.port.Parity().SetBits(prNone);
  EXPECT_EQ(told, 0);
  f.port.SetBaudRate(br57600);
  f.port.Parity().SetBits(prOdd);
  f.port.FlowControl().SetFlowControl(fcHardware);
  f.port.Timeouts().SetReadInterval(7);
  f.port.Buffer().SetOutputSize(4096);
  f.port.SetTimeouts(f.port.Timeouts());  // whole-object setters always tell
  f.port.SetPort("COM2");
  f.port.SetSyncMethod(smNone);
  EXPECT_EQ(told, 8);

  f.line->AddName("COM2");
  f.OpenQuietly();
  told = 0;
  f.port.BeginUpdate();
  f.port.SetBaudRate(br19200);
  f.port.SetDataBits(dbSeven);
  f.port.Buffer().SetInputSize(512);
  EXPECT_EQ(told, 0);
  f.port.EndUpdate();
  EXPECT_EQ(told, 1);
  f.port.BeginUpdate();
  f.port.EndUpdate();  // an update that changed nothing tells nothing
  EXPECT_EQ(told, 1);

  seen.clear();
  f.line->SetFailure("SetCommState", EINVAL);
  EXPECT_EQ(Raised([&] { f.port.SetBaudRate(br256000); }).ErrorCode(), ecode::kSetCommState);
  EXPECT_EQ(seen, std::vector<TBaudRate>{br256000});
  f.line->SetFailure("SetCommState", 0);
  f.port.UnRegisterLink(&link);
  f.port.SetBaudRate(br110);
  EXPECT_EQ(seen.size(), 1u);
}

TEST(Settings, DesigningAndLoadingStoreWithoutApplying) {
  for (TComponentState state : {TComponentState{true, false}, TComponentState{false, true}}) {
    FakePort f;
    f.OpenQuietly();
    f.port.SetComponentState(state);
    f.port.SetBaudRate(br57600);
    f.port.SetSyncMethod(smNone);  // allowed while designing or loading, even when connected
    EXPECT_TRUE(f.line->Calls().empty());
    EXPECT_EQ(f.port.BaudRate(), br57600);
    EXPECT_EQ(f.port.SyncMethod(), smNone);
  }
}

TEST(Settings, BufferSizesAreKeptEven) {
  const struct {
    int32_t set, stored;
  } cases[] = {{1025, 1024}, {7, 6}, {0, 0}, {1, 0}, {-3, -3}, {4096, 4096}};
  for (const auto& c : cases) {
    TComBuffer b;
    b.SetInputSize(c.set);
    b.SetOutputSize(c.set);
    EXPECT_EQ(b.InputSize(), c.stored) << c.set;
    EXPECT_EQ(b.OutputSize(), c.stored) << c.set;
  }
}

TEST(Settings, ThePanelsLineRecord) {
  FakePort f;
  f.port.SetBaudRate(br19200);
  f.port.FlowControl().SetControlRTS(rtsToggle);
  EXPECT_EQ(f.port.FlowControl().FlowControl(), fcCustom);
  f.port.Open();
  const TDCB d = *f.line->LastDCB();
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 19200u);
  EXPECT_EQ(d.Flags, 0x3001u);
  EXPECT_EQ(d.XonLim, 256);
  EXPECT_EQ(d.XoffLim, 256);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, 0);
  EXPECT_EQ(d.StopBits, 0);
  EXPECT_EQ(d.XonChar, 17);
  EXPECT_EQ(d.XoffChar, 19);
  EXPECT_EQ(d.EvtChar, 0);
  EXPECT_EQ(d.ErrorChar, 0);
  EXPECT_EQ(d.EofChar, 0);
  EXPECT_EQ(d.wReserved, 0);
  EXPECT_EQ(d.wReserved1, 0);
}

TEST(Settings, EachSettingSetsItsLineFlag) {
  const struct {
    const char* name;
    std::function<void(TCustomComPort&)> set;
    uint32_t flags;  // beside fBinary
  } cases[] = {
      {"DiscardNull", [](auto& p) { p.SetDiscardNull(true); }, dcb::fNull},
      {"OutCTSFlow", [](auto& p) { p.FlowControl().SetOutCTSFlow(true); }, dcb::fOutxCtsFlow},
      {"OutDSRFlow", [](auto& p) { p.FlowControl().SetOutDSRFlow(true); }, dcb::fOutxDsrFlow},
      {"dtrEnable", [](auto& p) { p.FlowControl().SetControlDTR(dtrEnable); }, 0x10},
      {"dtrHandshake", [](auto& p) { p.FlowControl().SetControlDTR(dtrHandshake); }, 0x20},
      {"rtsEnable", [](auto& p) { p.FlowControl().SetControlRTS(rtsEnable); }, 0x1000},
      {"rtsHandshake", [](auto& p) { p.FlowControl().SetControlRTS(rtsHandshake); }, 0x2000},
      {"XonXoffOut", [](auto& p) { p.FlowControl().SetXonXoffOut(true); }, dcb::fOutX},
      {"XonXoffIn", [](auto& p) { p.FlowControl().SetXonXoffIn(true); }, dcb::fInX},
      {"DSRSensitivity", [](auto& p) { p.FlowControl().SetDSRSensitivity(true); },
       dcb::fDsrSensitivity},
      {"TxContinueOnXoff", [](auto& p) { p.FlowControl().SetTxContinueOnXoff(true); },
       dcb::fTXContinueOnXoff},
      {"Check", [](auto& p) { p.Parity().SetCheck(true); }, dcb::fParity},
      {"Replace without Check", [](auto& p) { p.Parity().SetReplace(true); }, 0},
  };
  for (const auto& c : cases) {
    TComPort port;
    c.set(port);
    EXPECT_EQ(port.BuildDCB().Flags, dcb::fBinary | c.flags) << c.name;
  }

  TComPort replacing;
  replacing.Parity().SetReplaceChar('?');
  replacing.Parity().SetReplace(true);
  EXPECT_EQ(replacing.BuildDCB().ErrorChar, 0) << "Replace without Check has no effect";
  replacing.Parity().SetCheck(true);
  const TDCB d = replacing.BuildDCB();
  EXPECT_EQ(d.Flags, dcb::fBinary | dcb::fParity | dcb::fErrorChar);
  EXPECT_EQ(d.ErrorChar, '?');
}

TEST(Settings, CharacterFormatAndRates) {
  TComPort port;
  port.SetDataBits(dbFive);
  port.SetStopBits(sbOne5StopBits);
  port.Parity().SetBits(prSpace);
  const TDCB d = port.BuildDCB();
  EXPECT_EQ(d.ByteSize, 5);
  EXPECT_EQ(d.StopBits, 1);
  EXPECT_EQ(d.Parity, 4);
  EXPECT_EQ(BaudRateValue(br14400), 14400u);
  EXPECT_EQ(BaudRateValue(br256000), 256000u);
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  EXPECT_EQ(port.BuildDCB().BaudRate, 31250u);
}

TEST(Settings, FlowLimitsDoNotWrapForLargeInputQueues) {
  TComPort port;
  port.Buffer().SetInputSize(400000);
  EXPECT_EQ(port.BuildDCB().XonLim, 65535);
  EXPECT_EQ(port.BuildDCB().XoffLim, 65535);
  port.Buffer().SetInputSize(100);
  EXPECT_EQ(port.BuildDCB().XonLim, 25);
}

TEST(Settings, TimeoutsKeepTheirBits) {
  TComPort port;
  EXPECT_EQ(port.BuildTimeouts().ReadIntervalTimeout, platform::kMaxDword);
  port.Timeouts().SetReadTotalM(-2);
  port.Timeouts().SetWriteTotalC(-1);
  const platform::TCommTimeouts t = port.BuildTimeouts();
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0xFFFFFFFEu);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 0xFFFFFFFFu);
}

TEST(Settings, FlowControlPresets) {
  const struct {
    TFlowControl preset;
    TRTSFlowControl rts;
    bool cts, xonIn, xonOut;
  } presets[] = {{fcHardware, rtsHandshake, true, false, false},
                 {fcSoftware, rtsDisable, false, true, true},
                 {fcNone, rtsDisable, false, false, false}};
  for (const auto& p : presets) {
    FakePort f;
    f.port.FlowControl().SetControlRTS(rtsToggle);
    f.port.FlowControl().SetOutDSRFlow(true);  // no part of any preset
    f.OpenQuietly();
    f.port.FlowControl().SetFlowControl(p.preset);
    const TComFlowControl& fc = f.port.FlowControl();
    EXPECT_EQ(fc.ControlRTS(), p.rts);
    EXPECT_EQ(fc.OutCTSFlow(), p.cts);
    EXPECT_EQ(fc.XonXoffIn(), p.xonIn);
    EXPECT_EQ(fc.XonXoffOut(), p.xonOut);
    EXPECT_TRUE(fc.OutDSRFlow());
    EXPECT_EQ(fc.FlowControl(), p.preset);
    EXPECT_EQ(f.line->CountCalls("SetCommState"), 1u);
  }

  FakePort f;
  f.port.FlowControl().SetXonXoffIn(true);  // only one direction: no preset
  EXPECT_EQ(f.port.FlowControl().FlowControl(), fcCustom);
  f.OpenQuietly();
  f.port.FlowControl().SetFlowControl(fcCustom);
  EXPECT_TRUE(f.port.FlowControl().XonXoffIn());
  EXPECT_EQ(f.line->CountCalls("SetCommState"), 1u);
}

TEST(Settings, ThreadSettingsRefuseChangesWhileConnected) {
  FakePort f;
  f.port.SetSyncMethod(smWindowSync);
  f.port.SetEventThreadPriority(tpHigher);
  f.port.Open();
  f.port.SetSyncMethod(smWindowSync);  // an equal value is no change
  EXPECT_EQ(Raised([&] { f.port.SetSyncMethod(smNone); }).ErrorCode(), 14);
  EXPECT_EQ(Raised([&] { f.port.SetEventThreadPriority(tpIdle); }).ErrorCode(), 14);
  EXPECT_EQ(f.port.SyncMethod(), smWindowSync);
  EXPECT_EQ(f.port.EventThreadPriority(), tpHigher);
  f.port.Close();
  f.port.SetSyncMethod(smNone);
  EXPECT_EQ(f.port.SyncMethod(), smNone);
}

TEST(Settings, EventMaskMapping) {
  EXPECT_EQ(EventsToInts(kAllComEvents), 0x05FFu);
  EXPECT_EQ(IntToEvents(0x05FF), kAllComEvents);
  EXPECT_TRUE(IntToEvents(platform::kEvPerr).Empty());
  for (TComEvent e : kComEventDeliveryOrder) {
    EXPECT_EQ(IntToEvents(EventsToInts({e})), TComEvents{e});
    EXPECT_EQ(EventToInt(e), EventsToInts({e}));
  }
  EXPECT_EQ(EventsToInts({evRing, evRLSD}), platform::kEvRing | platform::kEvRlsd);
}

TEST(Errors, MessagesComeFromTheOneTable) {
  std::vector<std::string> texts;
  for (int32_t code = 1; code <= 23; ++code) {
    const EComPort e(code);
    EXPECT_EQ(e.SystemErrorCode(), -1);
    EXPECT_EQ(e.Message(), ComErrorText(code));
    EXPECT_FALSE(e.Message().empty()) << code;
    texts.push_back(e.Message());
  }
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());

  EXPECT_STREQ(EComPort(1).what(), "Unable to open com port");
  const EComPort withSystem(3, 9);
  EXPECT_EQ(withSystem.ErrorCode(), 3);
  EXPECT_EQ(withSystem.SystemErrorCode(), 9);
  EXPECT_EQ(withSystem.what(), WithSystemError("ReadFile function failed", 9));
  EXPECT_EQ(EComPort(22, 0).what(), WithSystemError("A component is linked to OnRxBuf event", 0));
}

}  // namespace
}  // namespace serial::test
