#include "app/protocol/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace app::protocol {
namespace {

TEST(Format, ConversionsAndLiteralPercentSigns) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const std::pair<std::string, const char*> cases[] = {
      {Format("%d.%03d kHz", {0, 30}), "0.030 kHz"},
      {Format("%d.%01d %", {50, 0}), "50.0 %"},  // the lone trailing '%' prints as text
      {Format("%d %", {50}), "50 %"},
      {Format("%%01f\r", {}), "%01f\r"},  // a doubled '%' leaves one on the wire
      {Format("#%02d", {123}), "#123"},   // a width is a minimum, never a cut
      {Format("%03d", {-5}), "-05"},      // the sign counts in a zero-padded width
      {Format("%5d|", {-42}), "  -42|"},  // blanks go in front of the sign
      {Format("%d", {kMin}), "-2147483648"},
      {Format("%d%", {1}), "1%"},
      {Format("%0", {}), "%0"},
      {Format("%d %x %-5d", {1}), "1 %x %-5d"},  // conversions it does not know are text
      {Format("%d %d", {1}), "1 %d"},            // no argument left: text, not a stray read
      {Format("%099d", {7}), "%099d"},           // wider than any format of the panel
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(FormatScaled, NegativeValuesShowTheirSignInFront) {
  const std::pair<std::string, const char*> cases[] = {
      {FormatScaled("%d.%03d kHz", 27345, 1000), "27.345 kHz"},
      {FormatScaled("%d.%03d kHz", -5, 1000), "-0.005 kHz"},
      {FormatScaled("%d.%03d kHz", -12345, 1000), "-12.345 kHz"},
      {FormatScaled("%d.%01d %", -5, 10), "-0.5 %"},
      {FormatScaled("%d.%02d A", -123, 100), "-1.23 A"},
      {FormatScaled("%d %", -1, 1), "-1 %"},
      {FormatScaled("%d.%03d", std::numeric_limits<int32_t>::min(), 1000), "-2147483.648"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace app::protocol
