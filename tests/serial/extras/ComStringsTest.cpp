// Text forms of the setting values: every member to text and back, in any case.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "serial/extras/ComStrings.h"

namespace serial::test {
namespace {

std::string Cased(std::string text, int (*to)(int)) {
  for (char& c : text) c = static_cast<char>(to(static_cast<unsigned char>(c)));
  return text;
}

// One enumeration's pair of functions with its last member.
template <typename E, std::string (*ToStr)(E), E (*FromStr)(std::string_view), E Last>
struct Form {
  using Type = E;
  static std::string To(E v) { return ToStr(v); }
  static E From(std::string_view t) { return FromStr(t); }
  static constexpr int kCount = static_cast<int>(Last) + 1;
};

using Forms = ::testing::Types<
    Form<TBaudRate, BaudRateToStr, StrToBaudRate, br256000>,
    Form<TDataBits, DataBitsToStr, StrToDataBits, dbEight>,
    Form<TStopBits, StopBitsToStr, StrToStopBits, sbTwoStopBits>,
    Form<TParityBits, ParityToStr, StrToParity, prSpace>,
    Form<TFlowControl, FlowControlToStr, StrToFlowControl, fcCustom>,
    Form<TDTRFlowControl, DTRToStr, StrToDTR, dtrHandshake>,
    Form<TRTSFlowControl, RTSToStr, StrToRTS, rtsToggle>,
    Form<TSyncMethod, SyncMethodToStr, StrToSyncMethod, smNone>,
    Form<TThreadPriority, ThreadPriorityToStr, StrToThreadPriority, tpTimeCritical>,
    Form<TComEvent, EventToStr, StrToEvent, evRx80Full>>;

template <typename F>
class TextFormTest : public ::testing::Test {};
TYPED_TEST_SUITE(TextFormTest, Forms);

TYPED_TEST(TextFormTest, EveryMemberReadsBackInAnyCaseAndOtherTextsAreRefused) {
  using E = typename TypeParam::Type;
  std::set<std::string> seen;
  for (int i = 0; i < TypeParam::kCount; ++i) {
    const E member = static_cast<E>(i);
    const std::string text = TypeParam::To(member);
    ASSERT_FALSE(text.empty()) << i;
    EXPECT_TRUE(seen.insert(Cased(text, ::tolower)).second) << "two members read as " << text;
    for (const std::string& typed :
         {text, Cased(text, ::toupper), Cased(text, ::tolower), " " + text + "\t"}) {
      EXPECT_EQ(TypeParam::From(typed), member) << typed;
    }
  }
  EXPECT_EQ(TypeParam::To(static_cast<E>(TypeParam::kCount)), "");
  for (const char* bad : {"", "bogus", "1 2", "Custom1"}) {
    try {
      TypeParam::From(bad);
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const EComConvert& e) {
      EXPECT_EQ(e.Text(), bad);
      EXPECT_NE(std::string(e.what()).find("\"" + std::string(bad) + "\""), std::string::npos);
    }
  }
}

TEST(TextForms, TextsAreTheOnesAUserTypes) {
  EXPECT_EQ(BaudRateToStr(br19200), "19200");
  EXPECT_EQ(BaudRateToStr(br256000), "256000");
  EXPECT_EQ(BaudRateToStr(brCustom), "Custom");
  EXPECT_EQ(DataBitsToStr(dbFive), "5");
  EXPECT_EQ(StopBitsToStr(sbOne5StopBits), "1.5");
  EXPECT_EQ(RTSToStr(rtsToggle), "Toggle");
}

TEST(TextForms, EventSetsReadBackAndNameTheMemberThatSpoilsThem) {
  EXPECT_EQ(EventsToStr({evRing, evRxChar}), "RxChar, Ring");
  EXPECT_EQ(StrToEvents(EventsToStr(kAllComEvents)), kAllComEvents);
  EXPECT_EQ(StrToEvents("  "), TComEvents{});
  EXPECT_EQ(StrToEvents("rxchar,RING , cts,"), (TComEvents{evRxChar, evRing, evCTS}));
  try {
    StrToEvents("RxChar, Bogus");
    ADD_FAILURE() << "accepted a set with a member that is none";
  } catch (const EComConvert& e) {
    EXPECT_EQ(e.Text(), "RxChar, Bogus");
    EXPECT_NE(std::string(e.what()).find("\"Bogus\""), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace serial::test
