#include "app/protocol/ExchangeSteps.h"

namespace app::protocol {

const ExchangeStepPlan& StepPlan(int step) {
  static constexpr ExchangeStepPlan kStray{StepAction::discardRead, std::nullopt, ""};
  if (step < kFirstStep || step > kLastStep) return kStray;
  return kExchangeSteps[static_cast<std::size_t>(step)];
}

int8_t NextExchangeStep(int8_t step) {
  // Worked out in int so that the largest step value cannot wrap round to a negative one.
  const int next = int{step} + 1;
  return next > kLastStep ? kFirstLoopStep : static_cast<int8_t>(next);
}

}  // namespace app::protocol
