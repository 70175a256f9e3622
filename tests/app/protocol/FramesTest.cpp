#include "app/protocol/Frames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Replies.h"

namespace app::protocol {
namespace {

TEST(Frames, Layouts) {
  struct Case {
    std::string frame;
    const char* expected;
  };
  const Case cases[] = {
      {SetFrame(kUnit01, 'f', 30000), "#01f30.000\r"},
      {SetFrame(kUnit01, 'f', 45000), "#01f45.000\r"},
      {SetFrame(kUnit01, 'q', 0), "#01q00.000\r"},
      {SetFrame(kUnit01, 'q', 30), "#01q00.030\r"},
      {SetFrame(kUnit03, 'y', 5000), "#03y05.000\r"},
      {SetFrame(ParamId::power, 500), "#03p00.500\r"},
      {SetFrame(ParamId::clim, 5000), "#03y05.000\r"},
      {SetFrame(kUnit01, 'f', -5), "#01f-0.005\r"},
      {SetFrame(kUnit01, 'f', -1234), "#01f-1.234\r"},
      {QueryFrame(kUnit01, 'f'), "%01f\r"},
      {QueryFrame(ParamId::clim), "%03y\r"},
      {QueryFrame(kUnit03, '?'), "%03?\r"},
      {QueryFrame(kUnit01, '&'), "%01&\r"},
      {CommandFrame(kUnit01, kWordStatus), "@01SR\r"},
      {CommandFrame(kUnit01, kWordStart), "@01start\r"},
      {CommandFrame(kUnit03, kWordStop), "@03stop\r"},
      {CommandFrame(kUnit03, kWordWrite), "@03wr\r"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.frame, c.expected);
}

// The generator's answer to a query reads like a SetFrame from unit 02, so every frame the
// panel can send must read back as the value it carries.
std::optional<int32_t> ReadBack(std::string frame, char letter) {
  frame[1] = '0';
  frame[2] = '2';
  return ParseParameterReply(frame, letter);
}

TEST(Frames, EverySliderValueKeepsTheLayoutAndReadsBack) {
  for (const ParameterInfo& info : kParameters) {
    for (int32_t position = info.min; position <= info.max; ++position) {
      const int32_t value = ValueFromPosition(info.id, position);
      const std::string frame = SetFrame(info.id, value);
      ASSERT_EQ(frame.size(), 11u) << frame;
      ASSERT_EQ(frame.back(), '\r');
      ASSERT_EQ(frame[6], '.');
      ASSERT_EQ(ReadBack(frame, info.letter), value) << frame;
    }
  }
}

TEST(Frames, NegativeValuesKeepTheLayoutAndReadBack) {
  for (int32_t value = -9999; value < 0; ++value) {
    const std::string frame = SetFrame(kUnit01, 'f', value);
    ASSERT_EQ(frame.size(), 11u) << frame;
    ASSERT_EQ(ReadBack(frame, 'f'), value) << frame;
  }
}

}  // namespace
}  // namespace app::protocol
