#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Replies.h"
#include "app/protocol/Telemetry.h"

namespace app::protocol {
namespace {

TEST(Parameters, DisplayTexts) {
  struct Case {
    ParamId id;
    int32_t position;
    const char* expected;
  };
  const Case cases[] = {
      // Every slider at its initial position.
      {ParamId::freq, 3000, "30.000 kHz"},
      {ParamId::sweep, 30, "0.030 kHz"},
      {ParamId::power, 500, "50.0 %"},
      {ParamId::clim, 2000, "2.000 A"},
      {ParamId::pwmp, 100, "0.100 s"},
      {ParamId::pwmr, 50, "50 %"},
      {ParamId::fss, 30, "0.030 kHz"},
      {ParamId::fsr, 50, "50 %"},
      {ParamId::fsp, 100, "0.100 s"},
      {ParamId::qf, 30, "30"},
      {ParamId::fs, 50, "50"},
      {ParamId::gf, 100, "100"},
      {ParamId::usp, 30, "30"},
      // Ends of some ranges.
      {ParamId::freq, 2500, "25.000 kHz"},
      {ParamId::freq, 4500, "45.000 kHz"},
      {ParamId::power, 7, "0.7 %"},
      {ParamId::power, 1000, "100.0 %"},
      {ParamId::pwmp, 10, "0.010 s"},
      {ParamId::pwmp, 10000, "10.000 s"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatValue(c.id, ValueFromPosition(c.id, c.position)), c.expected);
  }
}

TEST(Parameters, FrequencyReadBackTruncatesToTheSliderStep) {
  const std::optional<int32_t> value =
      ParseParameterReply("#02f27.345", Info(ParamId::freq).letter);
  ASSERT_EQ(value, 27345);
  const int32_t position = PositionFromValue(ParamId::freq, *value);
  EXPECT_EQ(position, 2734);
  EXPECT_EQ(ValueFromPosition(ParamId::freq, position), 27340);
  EXPECT_EQ(FormatValue(ParamId::freq, 27340), "27.340 kHz");
  EXPECT_EQ(PositionFromValue(ParamId::sweep, 27345), 27345);  // only the frequency scales
}

TEST(Parameters, LettersAreUniqueAndOnlyPowerAndCurrentGoToUnit03) {
  for (const ParameterInfo& info : kParameters) {
    EXPECT_EQ(FindByLetter(info.letter), info.id) << info.letter;
    const bool unit03 = info.id == ParamId::power || info.id == ParamId::clim;
    EXPECT_EQ(info.unit, unit03 ? kUnit03 : kUnit01) << info.caption;
  }
  EXPECT_FALSE(FindByLetter('?'));
  EXPECT_FALSE(FindByLetter('&'));
}

template <std::size_t N>
bool NamesEveryParameterOnce(const std::array<ParamId, N>& order) {
  std::set<ParamId> seen(order.begin(), order.end());
  return N == kParameterCount && seen.size() == kParameterCount;
}

TEST(Parameters, OrdersNameEveryParameterOnce) {
  EXPECT_TRUE(NamesEveryParameterOnce(kFlushOrder));
  EXPECT_TRUE(NamesEveryParameterOnce(kStep16SliderOrder));
  EXPECT_TRUE(NamesEveryParameterOnce(kStep16EditOrder));
}

TEST(ExchangeSteps, EachQueryAsksForWhatTheNextStepReads) {
  std::set<ParamId> read;
  for (std::size_t step = 0; step < kExchangeSteps.size(); ++step) {
    const ExchangeStepPlan& plan = kExchangeSteps[step];
    EXPECT_EQ(plan.parameter.has_value(), plan.action == StepAction::parameterReply) << step;
    if (plan.parameter) {
      EXPECT_TRUE(read.insert(*plan.parameter).second) << step;
    }

    const int8_t next = NextExchangeStep(static_cast<int8_t>(step));
    const ExchangeStepPlan& nextPlan = StepPlan(next);
    std::string expected;
    switch (nextPlan.action) {
      case StepAction::parameterReply:
        expected = QueryFrame(*nextPlan.parameter);
        break;
      case StepAction::dcTelemetry:
        expected = QueryFrame(kUnit03, '?');
        break;
      case StepAction::hfTelemetry:
        expected = QueryFrame(kUnit01, '&');
        break;
      default:
        break;
    }
    // The status request gets two ticks; step 21's query is answered into step 18's
    // discarded read and asked again at step 19.
    if (step == 0) expected = CommandFrame(kUnit01, kWordStatus);
    if (step == static_cast<std::size_t>(kLastStep)) expected = QueryFrame(kUnit03, '?');
    EXPECT_EQ(plan.query, expected) << "step " << step;
  }
  EXPECT_EQ(read.size(), kParameterCount);
  EXPECT_EQ(kExchangeSteps[2].action, StepAction::statusReply);
  EXPECT_EQ(kExchangeSteps[kFirstLoopStep].action, StepAction::flush);
}

TEST(ExchangeSteps, StartUpPassOnceThenTheLoopForEver) {
  int8_t step = kFirstStep;
  for (int tick = 0; tick < 18; ++tick) {
    EXPECT_EQ(step, tick);
    step = NextExchangeStep(step);
  }
  for (int tick = 0; tick < 40; ++tick) {
    EXPECT_EQ(step, kFirstLoopStep + tick % 4);
    step = NextExchangeStep(step);
  }
  EXPECT_EQ(NextExchangeStep(127), kFirstLoopStep);  // never wraps to a negative step
  EXPECT_EQ(StepPlan(-1).action, StepAction::discardRead);
  EXPECT_EQ(StepPlan(kLastStep + 1).action, StepAction::discardRead);
  EXPECT_TRUE(StepPlan(kLastStep + 1).query.empty());
}

TEST(ExchangeSteps, WaitingListsAreTheEditBoxesOfTheWindow) {
  std::set<std::string_view> edits;
  for (const ParameterInfo& info : kParameters) edits.insert(info.edit);
  for (const TelemetryInfo& info : kTelemetry) edits.insert(info.edit);
  ASSERT_EQ(edits.size(), kFormCreateWaitingEdits.size());
  const std::set<std::string_view> formCreate(kFormCreateWaitingEdits.begin(),
                                              kFormCreateWaitingEdits.end());
  EXPECT_EQ(formCreate, edits);
  // The Read button leaves Eusp as it is and otherwise keeps FormCreate's order.
  std::vector<std::string_view> readButton(kFormCreateWaitingEdits.begin(),
                                           kFormCreateWaitingEdits.end());
  std::erase(readButton, "Eusp");
  EXPECT_TRUE(std::equal(readButton.begin(), readButton.end(), kReadButtonWaitingEdits.begin(),
                         kReadButtonWaitingEdits.end()));
}

TEST(Telemetry, DcReplyShownAsCurrentVoltagePowerAndLamp) {
  const std::optional<DcTelemetry> dc = ParseDcReply("#02?1234561");
  ASSERT_TRUE(dc);
  EXPECT_EQ(FormatTelemetry(TelemetryId::dcCurrent, dc->current), "1.23 A");
  EXPECT_EQ(FormatTelemetry(TelemetryId::dcVoltage, dc->voltage), "456 V");
  const int32_t power = DcPower(dc->voltage, dc->current);
  EXPECT_EQ(power, 560);
  EXPECT_EQ(FormatTelemetry(TelemetryId::dcPower, power), "560 W");
  EXPECT_EQ(LampColour(dc), kColourGreen);

  const std::optional<DcTelemetry> full = ParseDcReply("#02?999999");
  ASSERT_TRUE(full);
  EXPECT_EQ(DcPower(full->voltage, full->current), 9980);  // the power bar holds it to 1500
  EXPECT_EQ(LampColour(full), kColourBlack);

  EXPECT_EQ(LampColour(ParseDcReply("#03?1234561")), kColourPurple);
  EXPECT_EQ(RunStatusColour('0'), kColourRed);
  EXPECT_EQ(RunStatusColour('2'), kColourBlack);
  EXPECT_EQ(FormatTelemetry(TelemetryId::dcCurrent, 5), "0.05 A");
  EXPECT_EQ(FormatTelemetry(TelemetryId::regulator, 7), "7 Units");
  EXPECT_EQ(DcPower(-1000, 1000), -10000);  // signed arithmetic
  EXPECT_EQ(DcPower(2147483647, 2147483647), 2147483647);
}

TEST(Release, FrequencyRangeAndDcCurrent) {
  const std::optional<ReleaseRule> r104 = FindReleaseRule(ParseStatusReply("#02SR104")->release);
  ASSERT_TRUE(r104);
  EXPECT_EQ(r104->range, (FrequencyRange{2200, 3000}));
  EXPECT_TRUE(r104->disablesDcCurrent);
  for (const ReleaseRule& rule : kReleaseRules) {
    EXPECT_LT(rule.range.min, rule.range.max);
    EXPECT_EQ(rule.disablesDcCurrent, (rule.release == Release{'1', '0', '4'}));
  }
  EXPECT_FALSE(FindReleaseRule(ParseStatusReply("#02SR199")->release));
  EXPECT_FALSE(FindReleaseRule(ParseStatusReply("#02SR10")->release));
}

}  // namespace
}  // namespace app::protocol
