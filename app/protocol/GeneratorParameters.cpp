#include "app/protocol/GeneratorParameters.h"

#include <algorithm>
#include <limits>

#include "app/protocol/Format.h"

namespace app::protocol {

std::optional<ParamId> FindByLetter(char letter) {
  for (const ParameterInfo& info : kParameters) {
    if (info.letter == letter) return info.id;
  }
  return std::nullopt;
}

int32_t ValueFromPosition(ParamId id, int32_t position) {
  const int64_t value = int64_t{position} * Info(id).scale;
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int32_t PositionFromValue(ParamId id, int32_t value) {
  return value / Info(id).scale;
}

std::string FormatValue(ParamId id, int32_t value) {
  const ParameterInfo& info = Info(id);
  return FormatScaled(info.format, value, info.divisor);
}

std::string SetFrame(ParamId id, int32_t value) {
  const ParameterInfo& info = Info(id);
  return SetFrame(info.unit, info.letter, value);
}

std::string QueryFrame(ParamId id) {
  const ParameterInfo& info = Info(id);
  return QueryFrame(info.unit, info.letter);
}

}  // namespace app::protocol
