#include "tools/sim/FrameReader.h"

#include <gtest/gtest.h>

#include <random>

namespace sim {
namespace {

std::vector<FrameReader::Line> FeedAll(FrameReader& r, std::string_view bytes) {
  std::vector<FrameReader::Line> out;
  r.Feed(bytes, out);
  return out;
}

TEST(FrameReader, CutsAtCrWhateverTheChunking) {
  const std::string stream =
      std::string("@01SR\r%03y\r#01f30.000\r\r\r@03start\r") + '\0' + "x\x01\xff\r%01&\r";
  FrameReader whole;
  auto expected = FeedAll(whole, stream);
  ASSERT_EQ(expected.size(), 6u);  // empty lines are skipped
  EXPECT_EQ(expected[4].bytes, std::string("\0x\x01\xff", 4));

  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    FrameReader r;
    std::vector<FrameReader::Line> got;
    for (std::size_t pos = 0; pos < stream.size();) {
      std::size_t n = std::uniform_int_distribution<std::size_t>(1, 5)(rng);
      r.Feed(std::string_view(stream).substr(pos, n), got);
      pos += n;
    }
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].bytes, expected[i].bytes);
    EXPECT_EQ(r.Pending(), 0u);
  }
}

TEST(FrameReader, OverlongLineIsBoundedAndResynchronisesAtNextCr) {
  FrameReader r;
  std::vector<FrameReader::Line> got;
  for (int i = 0; i < 1000; ++i) {
    r.Feed("xxxxxxxxxx", got);
    ASSERT_LE(r.Pending(), FrameReader::kMaxLine);
  }
  EXPECT_TRUE(got.empty());
  r.Feed("yy\r%01f\r", got);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].overlong);
  EXPECT_EQ(got[0].bytes.size(), FrameReader::kMaxLine);
  EXPECT_FALSE(got[1].overlong);
  EXPECT_EQ(got[1].bytes, "%01f");
}

TEST(FrameReader, LineOfExactlyTheLimitIsNotOverlong) {
  FrameReader r;
  auto got = FeedAll(r, std::string(FrameReader::kMaxLine, 'a') + "\r");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].overlong);
  got = FeedAll(r, std::string(FrameReader::kMaxLine + 1, 'a') + "\r");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].overlong);
}

}  // namespace
}  // namespace sim
