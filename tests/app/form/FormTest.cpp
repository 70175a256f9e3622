#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ExchangeCycle.h"
#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/Telemetry.h"
#include "tests/app/form/FormRig.h"

namespace app::test {
namespace {

using protocol::ParamId;

std::vector<std::string> AllParamEdits(TMainForm& form) {
  std::vector<std::string> texts;
  for (const auto& p : protocol::kParameters) texts.push_back(form.ParamEdit(p.id).Text());
  return texts;
}

TEST(Form, StartsBuiltAndWaiting) {
  FormRig rig;
  TMainForm& f = rig.form;
  for (std::string_view name : protocol::kFormCreateWaitingEdits) {
    EXPECT_EQ(f.Control<TEdit>(name).Text(), "waiting.......") << name;
  }
  for (const auto& p : protocol::kParameters) {
    EXPECT_FALSE(f.Parameter(p.id).Changed) << p.slider;
    EXPECT_EQ(f.Slider(p.id).Position(), p.initial) << p.slider;
  }
  EXPECT_EQ(f.Lsr.Caption(), "Unknown");
  EXPECT_TRUE(f.Lcpb.Visible());
  EXPECT_EQ(f.Sh.BrushColor(), protocol::kColourPurple);
  EXPECT_EQ(f.CB.Text(), "COM1");
  EXPECT_EQ(f.CB.Items().size(), 10u);
  EXPECT_EQ(f.PC.ActivePageIndex(), 0);
  EXPECT_EQ(f.PBreg.BarColor(), 0x808000u);
  EXPECT_EQ(f.PBdc_power.BarColor(), 33023u);
  EXPECT_EQ(f.PBfcor.BarColor(), 0x800000u);
  EXPECT_EQ(f.PBac_current.BarColor(), clDefault);
  EXPECT_FALSE(f.CP.Connected());
  EXPECT_EQ(f.CP.BuildDCB().Flags, 0x3001u);
}

TEST(Form, SliderHandlersStoreMarkAndShow) {
  FormRig rig;
  TMainForm& f = rig.form;
  const struct {
    ParamId id;
    int32_t position, value;
    const char* text;
  } cases[] = {
      {ParamId::freq, 2500, 25000, "25.000 kHz"},
      {ParamId::freq, 4500, 45000, "45.000 kHz"},
      {ParamId::power, 7, 7, "0.7 %"},
      {ParamId::power, 1000, 1000, "100.0 %"},
      {ParamId::pwmp, 10, 10, "0.010 s"},
      {ParamId::pwmp, 10000, 10000, "10.000 s"},
      {ParamId::pwmr, 51, 51, "51 %"},
      {ParamId::clim, 5000, 5000, "5.000 A"},
      {ParamId::qf, 0, 0, "0"},
  };
  for (const auto& c : cases) {
    f.Slider(c.id).OperatorNotify(c.position);
    EXPECT_EQ(f.Parameter(c.id).Pending, c.value);
    EXPECT_TRUE(f.Parameter(c.id).Changed);
    EXPECT_EQ(f.ParamEdit(c.id).Text(), c.text);
  }
}

TEST(Form, ClosedPortFreezesTheCycle) {
  FormRig rig;
  rig.form.ExchangeStep = 7;
  rig.Ticks(5);
  EXPECT_EQ(rig.form.ExchangeStep, 7);
  EXPECT_TRUE(rig.form.Lcpb.Visible());
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_TRUE(rig.line->Calls().empty());
}

TEST(Form, ConnectFailureIsSilentAndLeavesThePortBusy) {
  FormRig rig;
  rig.Connect("no-such-port");
  rig.Tick();
  EXPECT_FALSE(rig.form.CP.Connected());
  EXPECT_TRUE(rig.form.Lcpb.Visible());
  EXPECT_TRUE(rig.errors.empty());
  rig.Connect();  // the device is there now
  rig.Tick();
  EXPECT_TRUE(rig.form.CP.Connected());
  EXPECT_FALSE(rig.form.Lcpb.Visible());
}

TEST(Cycle, StartupPassReadsEverythingAndSendsNothingBack) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(18);  // steps 0..17
  EXPECT_EQ(rig.form.ExchangeStep, 18);
  const std::vector<std::string> queries{"@01SR\r", "%03y\r", "%01f\r", "%01s\r", "%01w\r",
                                         "%01m\r",  "%03p\r", "%01a\r", "%01b\r", "%01c\r",
                                         "%01q\r",  "%01g\r", "%01v\r", "%01t\r"};
  EXPECT_EQ(rig.TakeFrames(), queries);
  EXPECT_EQ(rig.form.Lsr.Caption(), "SR106");
  EXPECT_EQ(rig.form.Slider(ParamId::freq).Min(), 2600);
  EXPECT_EQ(rig.form.Slider(ParamId::freq).Max(), 4000);

  // 27345 Hz moves the slider to 2734, whose handler stores 27340.
  EXPECT_EQ(rig.form.Slider(ParamId::freq).Position(), 2734);
  EXPECT_EQ(rig.form.Parameter(ParamId::freq).Pending, 27340);
  const std::vector<std::string> shown{"27.340 kHz", "0.120 kHz", "64.0 %", "3.500 A", "0.250 s",
                                       "75 %",       "0.400 kHz", "25 %",   "1.500 s", "255",
                                       "90",         "180",       "500"};
  EXPECT_EQ(AllParamEdits(rig.form), shown);
  // Q factor 300 is above the slider's range: it moved to 255 and its handler stored 255;
  // US power 500 is inside its range.
  EXPECT_EQ(rig.form.Parameter(ParamId::qf).Pending, 255);

  rig.Ticks(8);  // two rounds of the loop: only telemetry queries, no SetFrame
  EXPECT_EQ(rig.TakeFrames(),
            (std::vector<std::string>{"%03?\r", "%01&\r", "%03?\r", "%03?\r", "%01&\r", "%03?\r"}));
  EXPECT_EQ(rig.form.ExchangeStep, 18);  // 21 goes on at 18
}

TEST(Cycle, ValueAboveTheRangeStaysWhenTheSliderIsAlreadyAtItsEnd) {
  FormRig rig;
  rig.form.Slider(ParamId::qf).SetPosition(255);
  rig.Connect();
  rig.Ticks(18);
  EXPECT_EQ(rig.form.Parameter(ParamId::qf).Pending, 300);
  EXPECT_EQ(rig.form.ParamEdit(ParamId::qf).Text(), "300");
  EXPECT_FALSE(rig.form.Parameter(ParamId::qf).Changed);
}

TEST(Cycle, OperatorMovesDuringThePassAreDroppedLaterOnesFlushedInOrder) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(5);
  rig.form.Slider(ParamId::gf).OperatorNotify(7);  // before step 17: never sent
  rig.Ticks(13);
  rig.TakeFrames();

  rig.form.Slider(ParamId::usp).OperatorNotify(10);
  rig.form.Slider(ParamId::power).OperatorNotify(300);
  rig.form.Slider(ParamId::freq).OperatorNotify(3000);
  rig.form.Slider(ParamId::power).OperatorNotify(333);  // only the latest value goes out
  rig.Tick();                                           // step 18
  EXPECT_EQ(rig.TakeFrames(),
            (std::vector<std::string>{"#01f30.000\r", "#03p00.333\r", "#01t00.010\r"}));
  for (const auto& p : protocol::kParameters) EXPECT_FALSE(rig.form.Parameter(p.id).Changed);
  rig.Ticks(4);
  EXPECT_EQ(rig.TakeFrames(), (std::vector<std::string>{"%03?\r", "%01&\r", "%03?\r"}));
}

TEST(Cycle, TelemetryTextsLampAndClamp) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(21);  // through step 20 ('?')
  TMainForm& f = rig.form;
  EXPECT_EQ(f.Eacc.Text(), "1.23 A");
  EXPECT_EQ(f.Ereg.Text(), "456 V");
  EXPECT_EQ(f.Edc_power.Text(), "560 W");
  EXPECT_EQ(f.Sh.BrushColor(), protocol::kColourGreen);
  rig.Tick();  // step 21 ('&')
  EXPECT_EQ(f.Echf.Text(), "321 A");
  EXPECT_EQ(f.Efcor.Text(), "654 Units");
  EXPECT_EQ(f.Eph.Text(), "987 Units");

  rig.replies["%03?\r"] = "#02?9999990\r";
  rig.Ticks(3);  // 18, 19 (asks again), 20
  EXPECT_EQ(f.Edc_power.Text(), "1500 W");
  EXPECT_EQ(f.Sh.BrushColor(), protocol::kColourRed);

  rig.replies["%03?\r"] = "#03?1112221\r";  // wrong address: purple, values held
  rig.Ticks(4);
  EXPECT_EQ(f.Sh.BrushColor(), protocol::kColourPurple);
  EXPECT_EQ(f.Eacc.Text(), "9.99 A");
  EXPECT_EQ(f.Edc_power.Text(), "1500 W");
}

TEST(Cycle, ReleaseRules) {
  const struct {
    const char* reply;
    const char* label;
    int32_t min, max;
    bool dcCurrent;
  } cases[] = {
      {"#02SR102\r", "SR102", 1750, 2850, true},   {"#02SR104\r", "SR104", 2200, 3000, false},
      {"#02SR105\r", "SR105", 3800, 4500, true},   {"#02SR106\r", "SR106", 2600, 4000, true},
      {"#02SR199\r", "SR199", 2500, 4500, true},   {"#02SR1", "SR1", 2500, 4500, true},
      {"#02XR106\r", "Unknown", 2500, 4500, true},
  };
  for (const auto& c : cases) {
    FormRig rig;
    rig.replies["@01SR\r"] = c.reply;
    rig.Connect();
    rig.Ticks(3);
    EXPECT_EQ(rig.form.Lsr.Caption(), c.label) << c.reply;
    EXPECT_EQ(rig.form.Slider(ParamId::freq).Min(), c.min) << c.reply;
    EXPECT_EQ(rig.form.Slider(ParamId::freq).Max(), c.max) << c.reply;
    EXPECT_EQ(rig.form.PBac_current.Enabled(), c.dcCurrent) << c.reply;
    EXPECT_EQ(rig.form.Eacc.Enabled(), c.dcCurrent) << c.reply;
  }
}

TEST(Cycle, MovingToALowerBandSetsTheMinimumFirst) {
  FormRig rig;
  protocol::StatusReply r105{"SR105", {'1', '0', '5'}};
  protocol::StatusReply r104{"SR104", {'1', '0', '4'}};
  ApplyRelease(rig.form, r105);
  ApplyRelease(rig.form, r104);
  EXPECT_EQ(rig.form.Slider(ParamId::freq).Min(), 2200);
  EXPECT_EQ(rig.form.Slider(ParamId::freq).Max(), 3000);
  EXPECT_EQ(rig.form.Slider(ParamId::freq).Position(), 3000);
  EXPECT_TRUE(rig.form.Parameter(ParamId::freq).Changed);  // narrowing moved it
}

TEST(Buttons, CommandsGoToBothUnits) {
  FormRig rig;
  rig.Connect();
  rig.form.Button3.Click();
  rig.form.Button4.Click();
  rig.form.Button5.Click();
  EXPECT_EQ(rig.line->Written(), "@01wr\r@03wr\r@01start\r@03start\r@01stop\r@03stop\r");
}

TEST(Buttons, CommandOnAClosedPortRaisesOnceAndSkipsUnit03) {
  FormRig rig;
  try {
    rig.form.Button4.Click();
    FAIL() << "no error";
  } catch (const serial::EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), serial::ecode::kWriteFile);
    EXPECT_EQ(e.SystemErrorCode(), platform::kInvalidHandleError);
  }
  EXPECT_EQ(rig.line->Written(), "");
}

TEST(Buttons, FailedCommandOnAnOpenPortReleasesIt) {
  FormRig rig;
  rig.Connect();
  rig.line->SetFailure("WriteFile", EIO);
  EXPECT_THROW(rig.form.Button5.Click(), serial::EComPort);
  EXPECT_FALSE(rig.form.CP.Connected());
  rig.Ticks(3);  // the next ticks report nothing more
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_TRUE(rig.form.Lcpb.Visible());
}

TEST(Buttons, ReadRestartsAndRefillsWaitingExceptUsPower) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(22);
  rig.form.Button2.Click();
  EXPECT_EQ(rig.form.ExchangeStep, 0);
  for (std::string_view name : protocol::kReadButtonWaitingEdits) {
    EXPECT_EQ(rig.form.Control<TEdit>(name).Text(), "waiting.......") << name;
  }
  EXPECT_EQ(rig.form.ParamEdit(ParamId::usp).Text(), "500");
  rig.TakeFrames();
  rig.Tick();
  EXPECT_EQ(rig.TakeFrames(), std::vector<std::string>{"@01SR\r"});
}

TEST(Faults, LostDeviceShowsOneErrorClosesAndResumesAtItsStep) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(6);
  rig.line->SetFailure("ReadFile", EIO);
  // The error box is modal and the timer keeps firing inside it.
  rig.duringError = [&] { rig.Ticks(5); };
  rig.Tick();
  rig.Ticks(5);
  EXPECT_EQ(rig.errors, std::vector<int>{serial::ecode::kReadFile});
  EXPECT_FALSE(rig.form.CP.Connected());
  EXPECT_TRUE(rig.form.Lcpb.Visible());
  EXPECT_EQ(rig.form.ExchangeStep, 6);

  rig.line->SetFailure("ReadFile", 0);  // the device is back
  rig.Connect();
  rig.TakeFrames();
  rig.Tick();
  EXPECT_FALSE(rig.form.Lcpb.Visible());
  EXPECT_EQ(rig.TakeFrames(), std::vector<std::string>{"%01m\r"});  // step 6's query
}

// Once the line is lost nobody knows what the generator does: the lamp turns purple at once,
// however the port went, and stays so until a valid status reply comes in again.
TEST(Faults, LostPortTurnsTheLampPurpleUntilTheNextValidStatus) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(21);  // through step 20, which shows the running generator
  ASSERT_EQ(rig.form.Sh.BrushColor(), protocol::kColourGreen);
  const std::string shownCurrent = rig.form.Eacc.Text();

  rig.line->SetFailure("ReadFile", EIO);
  rig.Tick();
  EXPECT_FALSE(rig.form.CP.Connected());
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple);
  EXPECT_EQ(rig.form.Eacc.Text(), shownCurrent);  // the values stay; the lamp says they are old

  rig.line->SetFailure("ReadFile", 0);
  rig.Connect();
  for (int step = rig.form.ExchangeStep; step != 20; step = rig.form.ExchangeStep) {
    rig.Tick();
    EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple) << "after step " << step;
  }
  rig.Tick();
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourGreen);

  // A failed command write releases the port as well.
  rig.line->SetFailure("WriteFile", EIO);
  EXPECT_THROW(rig.form.Button4.Click(), serial::EComPort);
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple);
  rig.line->SetFailure("WriteFile", 0);
  rig.Connect();
  rig.Ticks(4);
  ASSERT_EQ(rig.form.Sh.BrushColor(), protocol::kColourGreen);

  // And so does a Connect to a name that is not there: the port closes, the next tick shows it.
  rig.Connect("no-such-port");
  rig.Tick();
  EXPECT_FALSE(rig.form.CP.Connected());
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple);
  EXPECT_TRUE(rig.errors.size() == 1u && rig.errors[0] == serial::ecode::kReadFile);
}

TEST(Faults, ShortWriteKeepsTheChangeAndCountsAsALoss) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(18);
  rig.form.Slider(ParamId::power).OperatorNotify(100);
  rig.line->SetWriteLimit(4);
  rig.Tick();  // step 18 sends half a frame
  EXPECT_EQ(rig.errors, std::vector<int>{serial::ecode::kWriteFile});
  EXPECT_TRUE(rig.form.Parameter(ParamId::power).Changed);
  EXPECT_FALSE(rig.form.CP.Connected());
  EXPECT_EQ(rig.form.ExchangeStep, 18);

  rig.line->SetWriteLimit(std::nullopt);
  rig.Connect();
  rig.TakeFrames();
  rig.Tick();
  EXPECT_EQ(rig.TakeFrames().front(), "#03p00.100\r");
}

// A reply that fails once the generator has answered before shows the value it sent then.
TEST(Faults, FailedReplyShowsThePreviousPendingValue) {
  FormRig rig;
  rig.Connect();
  rig.Ticks(18);
  ASSERT_EQ(rig.form.ParamEdit(ParamId::sweep).Text(), "0.120 kHz");
  rig.replies["%01s\r"] = "#02x00.999\r";  // wrong letter: sweep keeps its pending 120
  rig.form.Button2.Click();
  rig.Ticks(18);
  EXPECT_EQ(rig.form.Slider(ParamId::sweep).Position(), 120);
  EXPECT_EQ(rig.form.ParamEdit(ParamId::sweep).Text(), "0.120 kHz");
}

// The initial pending 0 is no value of the generator's: a parameter never answered for keeps
// its slider where it stands and its box waiting, whatever the other replies do.
TEST(Faults, ValuesNeverReadAreNotShown) {
  const auto waitingWithSlidersInPlace = [](FormRig& rig, ParamId id) {
    const auto& info = protocol::Info(id);
    EXPECT_EQ(rig.form.ParamEdit(id).Text(), "waiting.......") << info.slider;
    EXPECT_EQ(rig.form.Slider(id).Position(), info.initial) << info.slider;
    EXPECT_FALSE(rig.form.Parameter(id).Changed) << info.slider;
  };
  {
    FormRig silent;
    silent.replies.clear();
    silent.Connect();
    silent.Ticks(26);  // the pass and two rounds of the loop
    for (const auto& p : protocol::kParameters) waitingWithSlidersInPlace(silent, p.id);
    // Nothing is sent back: the loop only asks for telemetry.
    for (const std::string& frame : silent.TakeFrames()) EXPECT_NE(frame[0], '#') << frame;
  }
  {
    FormRig dropped;
    dropped.replies.erase("%01w\r");  // PWM period's query goes unanswered
    dropped.Connect();
    dropped.Ticks(18);
    waitingWithSlidersInPlace(dropped, ParamId::pwmp);
    EXPECT_EQ(dropped.form.ParamEdit(ParamId::power).Text(), "64.0 %");
    EXPECT_EQ(dropped.form.ParamEdit(ParamId::pwmr).Text(), "75 %");
  }
}

}  // namespace
}  // namespace app::test
