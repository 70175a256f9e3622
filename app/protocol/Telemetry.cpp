#include "app/protocol/Telemetry.h"

#include <algorithm>
#include <limits>

#include "app/protocol/Format.h"

namespace app::protocol {

std::optional<ReleaseRule> FindReleaseRule(const Release& release) {
  for (const ReleaseRule& rule : kReleaseRules) {
    if (rule.release == release) return rule;
  }
  return std::nullopt;
}

std::string FormatTelemetry(TelemetryId id, int32_t position) {
  const TelemetryInfo& info = Info(id);
  return FormatScaled(info.format, position, info.divisor);
}

int32_t DcPower(int32_t voltagePosition, int32_t currentPosition) {
  const int64_t power = int64_t{voltagePosition} * currentPosition / 100;
  return static_cast<int32_t>(std::clamp<int64_t>(power, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

uint32_t RunStatusColour(char runStatus) {
  switch (runStatus) {
    case '0':
      return kColourRed;
    case '1':
      return kColourGreen;
    default:
      return kColourBlack;
  }
}

uint32_t LampColour(const std::optional<DcTelemetry>& reply) {
  return reply ? RunStatusColour(reply->runStatus) : kColourPurple;
}

}  // namespace app::protocol
