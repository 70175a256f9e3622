#include "app/protocol/Replies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace app::protocol {
namespace {

using namespace std::string_literals;

// The received bytes in a heap block of exactly their size, so that the address sanitizer
// reports any look past the end of what the read delivered.
class Received {
 public:
  explicit Received(const std::string& bytes)
      : size_(bytes.size()), data_(std::make_unique<char[]>(bytes.size())) {
    if (size_ != 0) std::memcpy(data_.get(), bytes.data(), size_);
  }
  operator std::string_view() const { return {data_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> data_;
};

TEST(ReadField, ReadsLikeAtolOverTheCharactersTaken) {
  const std::pair<std::string, int32_t> cases[] = {
      {"-0005", -5},
      {"+1500", 1500},
      {"  -12", -12},
      {"\t\r\n7", 7},
      {"12a45", 12},
      {"abcde", 0},
      {"", 0},
      {"--1", 0},
      {"1\0"s
       "23",
       1},
      {"\0"s
       "123",
       0},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const auto& [chars, expected] : cases) EXPECT_EQ(ReadField(chars), expected) << chars;
}

TEST(ParameterReply, PositionsFourFiveAndSevenToNine) {
  const std::pair<std::string, std::optional<int32_t>> cases[] = {
      {"#02f27.345\r", 27345},
      {"#02f-1.000", -1000},
      {"#02f -.001", -1},         // blanks, then a sign
      {"#02f12x456", 12456},      // position 6 is never looked at
      {"#02f1a.345", 1},          // digits up to the first non-digit
      {"#02f30.0009999", 30000},  // nothing after position 9
      {"#02f30", std::nullopt},   // cut short by the read: not taken
      {"#02f3\0"s
       "0.000",
       3},  // a NUL ends the field
      {"#02f", std::nullopt},
      {"#02s30.000", std::nullopt},
      {"#01f30.000", std::nullopt},
      {" #02f30.000", std::nullopt},  // the reply must start the read
      {"#02", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(ParseParameterReply(Received(bytes), 'f'), expected) << bytes;
  }
}

TEST(StatusReply, LabelAndRelease) {
  const std::pair<std::string, std::optional<StatusReply>> cases[] = {
      {"#02SR104\r", StatusReply{"SR104", {'1', '0', '4'}}},
      {"#02SR10456789", StatusReply{"SR104", {'1', '0', '4'}}},
      {"#02SR1", StatusReply{"SR1", {'1', '\0', '\0'}}},  // a short reply puts no NULs in the label
      {"#02SR1\r4", StatusReply{"SR1", {'1', '\r', '4'}}},  // nor the CR
      {"#02SR\0"s
       "04",
       StatusReply{"SR", {'\0', '0', '4'}}},
      {"#02Sr104", std::nullopt},
      {"#03SR104", std::nullopt},
      {"#02S", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(ParseStatusReply(Received(bytes)), expected) << bytes;
  }
}

TEST(TelemetryReplies, ThreeDigitFields) {
  const std::pair<std::string, std::optional<DcTelemetry>> dcCases[] = {
      {"#02?1234561\r", DcTelemetry{123, 456, '1'}},
      {"#02? 12-3 4", DcTelemetry{12, -3, '4'}},
      {"#02?12", std::nullopt},                     // cut short by the read
      {"#02?123456", DcTelemetry{123, 456, '\0'}},  // the status is not a field
      {"#03?1234561", std::nullopt},
      {"#02&1234561", std::nullopt},
  };
  for (const auto& [bytes, expected] : dcCases) {
    EXPECT_EQ(ParseDcReply(Received(bytes)), expected) << bytes;
  }
  const std::pair<std::string, std::optional<HfTelemetry>> hfCases[] = {
      {"#02&1002003004\r", HfTelemetry{100, 200, 300}},  // position 13 is not the phase's
      {"#02&1002003", std::nullopt},
      {"#02?100200300", std::nullopt},
  };
  for (const auto& [bytes, expected] : hfCases) {
    EXPECT_EQ(ParseHfReply(Received(bytes)), expected) << bytes;
  }
}

}  // namespace
}  // namespace app::protocol
