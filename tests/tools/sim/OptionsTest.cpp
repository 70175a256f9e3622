#include "tools/sim/Options.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace sim {
namespace {

TEST(Options, ParsesEveryOptionInBothForms) {
  auto c = ParseCommandLine({"--link", "/tmp/x", "--release=102", "--seed", "42", "--delay-ms=0",
                             "--pace", "--drop", "0.25", "--split=0.5", "--garbage", "1",
                             "--wrong-address=.125", "--hangup-after", "7", "--trace"});
  EXPECT_EQ(c.link, "/tmp/x");
  EXPECT_EQ(c.options.release, 102);
  EXPECT_EQ(c.options.seed, 42u);
  EXPECT_EQ(c.options.delay.count(), 0);
  EXPECT_TRUE(c.options.pace);
  EXPECT_DOUBLE_EQ(c.options.dropRate, 0.25);
  EXPECT_DOUBLE_EQ(c.options.splitRate, 0.5);
  EXPECT_DOUBLE_EQ(c.options.garbageRate, 1.0);
  EXPECT_DOUBLE_EQ(c.options.wrongAddressRate, 0.125);
  EXPECT_EQ(c.options.hangupAfter, 7u);
  EXPECT_TRUE(c.options.trace);
  EXPECT_FALSE(c.help);

  EXPECT_DOUBLE_EQ(ParseCommandLine({"--split"}).options.splitRate, 1.0);
  EXPECT_TRUE(ParseCommandLine({"-h"}).help);
  EXPECT_FALSE(ParseCommandLine({}).options.hangupAfter.has_value());
  EXPECT_TRUE(ParseCommandLine({"--no-link"}).noLink);
  EXPECT_FALSE(ParseCommandLine({}).noLink);
}

TEST(Options, RejectsBadInput) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},          {"--release", "1000"},
      {"--release", "10x"}, {"--release"},
      {"--drop", "1.5"},    {"--drop", "-0.1"},
      {"--garbage", "abc"}, {"--split=2"},
      {"--pace=1"},         {"--hangup-after", "0"},
      {"--delay-ms", "-1"}, {"--link", ""},
      {"--seed", "nope"},   {"positional"},
      {"--no-link=1"},      {"--no-link", "--link", "/x"}};
  for (const auto& args : bad) {
    EXPECT_THROW(ParseCommandLine(args), std::invalid_argument) << args[0];
  }
}

TEST(Options, HelpExplainsEveryOption) {
  std::string help = HelpText("valtrex-sim");
  for (const char* opt :
       {"--link", "--release", "--seed", "--delay-ms", "--pace", "--drop", "--split", "--garbage",
        "--wrong-address", "--hangup-after", "--trace", "--help", "--no-link", "--version"}) {
    EXPECT_NE(help.find(opt), std::string::npos) << opt;
  }
}

}  // namespace
}  // namespace sim
