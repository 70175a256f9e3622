// The cutting rules on their own: bytes in, packets and discards out, with no port.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "serial/extras/PacketAssembler.h"

namespace serial {

// Readable failures: P(start,stop)"bytes" for a packet, D<reason>"bytes" for a discard.
void PrintTo(const TPacketPiece& piece, std::ostream* os) {
  if (piece.Packet) {
    *os << "P(" << piece.StartLength << "," << piece.StopLength << ")";
  } else {
    *os << "D" << static_cast<int>(piece.Reason);
  }
  *os << '"' << piece.Bytes << '"';
}

namespace test {
namespace {

using namespace std::chrono_literals;
using TPieces = TPacketAssembler::TPieces;
const TPacketAssembler::TTime t0{};

TPacketPiece P(std::string bytes, int32_t startLength = 0, int32_t stopLength = 0) {
  return TPacketPiece{true, drNoStart, std::move(bytes), startLength, stopLength};
}
TPacketPiece D(TDiscardReason reason, std::string bytes) {
  return TPacketPiece{false, reason, std::move(bytes), 0, 0};
}

TPacketSettings Rules(std::string start, std::string stop, int32_t size = 0, bool include = false,
                      bool caseInsensitive = false, int32_t max = 1024) {
  TPacketSettings s;
  s.StartString = std::move(start);
  s.StopString = std::move(stop);
  s.Size = size;
  s.IncludeStrings = include;
  s.CaseInsensitive = caseInsensitive;
  s.MaxBufferSize = max;
  return s;
}

struct CutCase {
  const char* name;
  TPacketSettings settings;
  std::string input;
  TPieces expected;
  size_t pending;
};

void PrintTo(const CutCase& c, std::ostream* os) {
  *os << c.name;
}

// What comes out of `input` fed in the reads that `cuts` (ascending offsets) mark.
struct Outcome {
  TPieces pieces;
  size_t pending;
};
Outcome FeedCut(const TPacketSettings& settings, const std::string& input,
                const std::vector<size_t>& cuts) {
  TPacketAssembler assembler;
  assembler.SetSettings(settings);
  Outcome outcome;
  size_t from = 0;
  auto feed = [&](size_t to) {
    for (TPacketPiece& p : assembler.Feed(std::string_view(input).substr(from, to - from), t0))
      outcome.pieces.push_back(std::move(p));
    from = to;
  };
  for (size_t cut : cuts) feed(cut);
  feed(input.size());
  outcome.pending = assembler.Pending();
  return outcome;
}

class Cutting : public ::testing::TestWithParam<CutCase> {};

// However the input is cut into reads, the same packets and discards come out: in one read, in
// every pair of reads, and a byte a read.
TEST_P(Cutting, GivesTheSameWhereverTheReadsAreCut) {
  const CutCase& c = GetParam();
  std::vector<std::vector<size_t>> ways = {{}};
  for (size_t i = 0; i <= c.input.size(); ++i) ways.push_back({i});
  std::vector<size_t> everyByte;
  for (size_t i = 1; i < c.input.size(); ++i) everyByte.push_back(i);
  ways.push_back(everyByte);

  for (const std::vector<size_t>& cuts : ways) {
    SCOPED_TRACE(cuts.size() == 1 ? "cut at " + std::to_string(cuts[0])
                                  : std::to_string(cuts.size() + 1) + " reads");
    const Outcome outcome = FeedCut(c.settings, c.input, cuts);
    EXPECT_EQ(outcome.pieces, c.expected);
    EXPECT_EQ(outcome.pending, c.pending);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Cutting,
    ::testing::Values(
        CutCase{
            "Stop", Rules("", "\r"), "ab\rcd\r\rx", {P("ab", 0, 1), P("cd", 0, 1), P("", 0, 1)}, 1},
        CutCase{"StopIncluded",
                Rules("", "\r", 0, true),
                "ab\rcd\r\rx",
                {P("ab\r"), P("cd\r"), P("\r")},
                1},
        // The next start string ends a packet and stays held as the beginning of the next.
        CutCase{"StartAlone",
                Rules("#", ""),
                "xx#ab#cd##",
                {D(drNoStart, "xx"), P("ab", 1, 0), P("cd", 1, 0), P("", 1, 0)},
                1},
        CutCase{"StartAloneIncluded",
                Rules("#", "", 0, true),
                "xx#ab#cd#",
                {D(drNoStart, "xx"), P("#ab"), P("#cd")},
                1},
        CutCase{"Size", Rules("", "", 3), "abcdefgh", {P("abc"), P("def")}, 2},
        CutCase{"StartAndStop",
                Rules("#", "\r"),
                "junk#ab\rzz#cd\r#e",
                {D(drNoStart, "junk"), P("ab", 1, 1), D(drNoStart, "zz"), P("cd", 1, 1)},
                2},
        CutCase{"StartAndStopIncluded",
                Rules("#", "\r", 0, true),
                "junk#ab\rzz#cd\r#e",
                {D(drNoStart, "junk"), P("#ab\r"), D(drNoStart, "zz"), P("#cd\r")},
                2},
        // Strings of two bytes, half matches and a stop that needs both its bytes.
        CutCase{"LongStrings",
                Rules("<<", ">>"),
                "<x<<a>b>>y<<<c>>",
                {D(drNoStart, "<x"), P("a>b", 2, 2), D(drNoStart, "y"), P("<c", 2, 2)},
                0},
        CutCase{"StartInsideABodyIsData", Rules("#", "\r"), "#a#b\r", {P("a#b", 1, 1)}, 0},
        CutCase{"SameStartAndStop",
                Rules("|", "|"),
                "|ab|cd|ef|",
                {P("ab", 1, 1), D(drNoStart, "cd"), P("ef", 1, 1)},
                0},
        CutCase{"CaseInsensitive",
                Rules("AT", "OK", 0, false, true),
                "xaTfooOk",
                {D(drNoStart, "x"), P("foo", 2, 2)},
                0},
        CutCase{"CaseInsensitiveIncludedAsReceived",
                Rules("AT", "OK", 0, true, true),
                "xaTfooOk",
                {D(drNoStart, "x"), P("aTfooOk")},
                0},
        CutCase{"CaseSensitive", Rules("AT", "OK"), "xaTfooOk", {}, 8},
        CutCase{"StartAndSize",
                Rules("#", "", 2),
                "a#bcd#e",
                {D(drNoStart, "a"), P("bc", 1, 0), D(drNoStart, "d")},
                2},
        // The size ends a body that has no stop string by then; a stop string that would end
        // after it is a packet of its own.
        CutCase{"StopOrSize",
                Rules("", "\r", 3),
                "ab\rcdefg\rxyz\r",
                {P("ab", 0, 1), P("cde"), P("fg", 0, 1), P("xyz"), P("", 0, 1)},
                0},
        // Held bytes at the maximum are dropped by the next byte, which begins afresh; a packet
        // of exactly the maximum still completes.
        CutCase{"Overflow",
                Rules("", "\r", 0, false, false, 4),
                "abcdef\rxyz\r",
                {D(drOverflow, "abcd"), P("ef", 0, 1), P("xyz", 0, 1)},
                0},
        CutCase{"OverflowBeforeAStart",
                Rules("#", "\r", 0, false, false, 3),
                "abcd#x",
                {D(drOverflow, "abc"), D(drNoStart, "d")},
                2},
        CutCase{"NoLimit",
                Rules("#", "\r", 0, false, false, 0),
                std::string(1500, 'x') + "#a\r",
                {D(drNoStart, std::string(1500, 'x')), P("a", 1, 1)},
                0}),
    [](const auto& info) { return std::string(info.param.name); });

// A read longer than the maximum comes out in pieces of the maximum; none without one.
TEST(PacketAssembler, WithNothingToCutByEachReadIsAPacket) {
  TPacketAssembler assembler;
  assembler.SetSettings(Rules("", "", 0, false, false, 2));
  EXPECT_EQ(assembler.Feed("abcde", t0), (TPieces{P("ab"), P("cd"), P("e")}));
  EXPECT_TRUE(assembler.Feed("", t0).empty());
  EXPECT_EQ(assembler.Feed("d", t0), TPieces{P("d")});
  EXPECT_EQ(assembler.Pending(), 0u);
  assembler.SetSettings(Rules("", "", 0, false, false, 0));
  EXPECT_EQ(assembler.Feed(std::string(1500, 'x'), t0), TPieces{P(std::string(1500, 'x'))});
}

TEST(PacketAssembler, TheTimeOutRunsFromTheFirstHeldByte) {
  TPacketAssembler assembler;
  TPacketSettings s = Rules("", "\r");
  s.Timeout = 100;
  assembler.SetSettings(s);
  EXPECT_EQ(assembler.Deadline(), std::nullopt) << "nothing held";
  EXPECT_TRUE(assembler.Feed("ab", t0).empty());
  EXPECT_EQ(assembler.Deadline(), t0 + 100ms);
  EXPECT_TRUE(assembler.Feed("c", t0 + 99ms).empty());
  EXPECT_EQ(assembler.Deadline(), t0 + 100ms) << "later bytes do not move it";
  EXPECT_TRUE(assembler.CheckTimeout(t0 + 99ms).empty());
  // Bytes that come when it has run out find it first, and begin afresh.
  EXPECT_EQ(assembler.Feed("\r", t0 + 100ms), (TPieces{D(drTimeout, "abc"), P("", 0, 1)}));

  EXPECT_TRUE(assembler.Feed("xy", t0 + 200ms).empty());
  EXPECT_EQ(assembler.CheckTimeout(t0 + 300ms), TPieces{D(drTimeout, "xy")});
  EXPECT_EQ(assembler.Pending(), 0u);
  EXPECT_EQ(assembler.Deadline(), std::nullopt);
}

TEST(PacketAssembler, ACompleteStartStringStartsThePacketsOwnTime) {
  TPacketAssembler assembler;
  TPacketSettings s = Rules("#", "\r");
  s.Timeout = 100;
  assembler.SetSettings(s);
  EXPECT_TRUE(assembler.Feed("x", t0).empty());
  EXPECT_EQ(assembler.Deadline(), t0 + 100ms) << "bytes before a start time out too";
  EXPECT_EQ(assembler.Feed("#a", t0 + 60ms), TPieces{D(drNoStart, "x")});
  EXPECT_EQ(assembler.Deadline(), t0 + 160ms);
  EXPECT_TRUE(assembler.CheckTimeout(t0 + 159ms).empty());
  EXPECT_EQ(assembler.CheckTimeout(t0 + 160ms), TPieces{D(drTimeout, "#a")});

  s.Timeout = 0;
  assembler.SetSettings(s);
  EXPECT_TRUE(assembler.Feed("#a", t0).empty());
  EXPECT_EQ(assembler.Deadline(), std::nullopt);
  EXPECT_TRUE(assembler.CheckTimeout(t0 + 1000h).empty());
}

TEST(PacketAssembler, AChangedSettingDropsWhatIsHeld) {
  TPacketAssembler assembler;
  assembler.SetSettings(Rules("#", "\r"));
  EXPECT_TRUE(assembler.Feed("#ab", t0).empty());
  EXPECT_TRUE(assembler.SetSettings(Rules("#", "\r")).empty()) << "the same settings";
  EXPECT_EQ(assembler.Pending(), 3u);
  EXPECT_EQ(assembler.SetSettings(Rules("#", "\n")), TPieces{D(drCleared, "#ab")});
  // The new rules hold from the first byte on: a start string is looked for again.
  EXPECT_EQ(assembler.Feed("z#q\n", t0), (TPieces{D(drNoStart, "z"), P("q", 1, 1)}));
  EXPECT_TRUE(assembler.Clear().empty());
}

}  // namespace
}  // namespace test
}  // namespace serial
