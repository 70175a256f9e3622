#include "tools/sim/Generator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>

namespace sim {
namespace {

using namespace std::chrono_literals;

constexpr Micros kStart{1'000'000'000};

// Drives a generator the way the panel does: a frame, then a look at the line 50 ms on.
struct Bench {
  explicit Bench(Options o = {}) : gen(o, kStart) {}
  std::string Ask(std::string_view bytes) {
    gen.Feed(bytes, now);
    now += 50ms;
    return gen.TakeDueBytes(now);
  }
  std::map<char, int> Values() const {
    std::map<char, int> v;
    for (char l : GeneratorModel::kLetters) v[l] = *gen.Model().Value(l);
    return v;
  }
  Generator gen;
  Micros now = kStart;
};

std::string Query(char letter, int unit) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%%%02d%c\r", unit, letter);
  return buf;
}

std::string Set(char letter, int unit, int value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "#%02d%c%02d.%03d\r", unit, letter, value / 1000, value % 1000);
  return buf;
}

// Reads a parameter reply the way a strict peer would, written apart from the generator.
std::optional<int> ValueOf(const std::string& reply, char letter) {
  if (reply.size() != 11 || reply.compare(0, 3, "#02") != 0 || reply[3] != letter ||
      reply[6] != '.' || reply[10] != '\r') {
    return std::nullopt;
  }
  int v = 0;
  for (int i : {4, 5, 7, 8, 9}) {
    if (reply[i] < '0' || reply[i] > '9') return std::nullopt;
    v = v * 10 + (reply[i] - '0');
  }
  return v;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

int OtherUnit(int unit) {
  return unit == 1 ? 3 : 1;
}

TEST(Generator, ParametersAnswerAndStoreOnlyAtTheirOwnUnit) {
  Bench b;
  int next = 1234;
  for (char letter : GeneratorModel::kLetters) {
    SCOPED_TRACE(letter);
    int unit = *GeneratorModel::OwnerOf(letter);
    EXPECT_EQ(unit, letter == 'p' || letter == 'y' ? 3 : 1);

    EXPECT_EQ(ValueOf(b.Ask(Query(letter, unit)), letter), b.gen.Model().Value(letter));
    EXPECT_EQ(b.Ask(Query(letter, OtherUnit(unit))), "");

    int before = *b.gen.Model().Value(letter);
    EXPECT_EQ(b.Ask(Set(letter, OtherUnit(unit), next)), "");
    EXPECT_EQ(b.gen.Model().Value(letter), before);

    EXPECT_EQ(b.Ask(Set(letter, unit, next)), "");  // a SetFrame gets no reply
    EXPECT_EQ(ValueOf(b.Ask(Query(letter, unit)), letter), next);
    next += 1111;
  }
  // The widest value the layout carries, and zero.
  EXPECT_EQ(b.Ask("#01f99.999\r"), "");
  EXPECT_EQ(b.Ask("%01f\r"), "#02f99.999\r");
  EXPECT_EQ(b.Ask("#01q00.000\r"), "");
  EXPECT_EQ(b.Ask("%01q\r"), "#02q00.000\r");
}

TEST(Generator, MalformedOrForeignFramesGetNoAnswerAndChangeNothing) {
  Bench b;
  auto before = b.Values();
  for (const std::string& frame :
       std::vector<std::string>{"#01f3.000\r",   "#01f30.00\r",  "#01f30.0000\r",
                                "#01fxx.000\r",  "#01f-1.000\r", "#01f30,000\r",
                                "#02f30.000\r",  "#00f30.000\r", "#01z30.000\r",
                                "#01?30.000\r",  "#1f30.000\r",  "%01f0\r",
                                "%02f\r",        "%01?\r",       "%03&\r",
                                "%01z\r",        "%0a?\r",       "@03SR\r",
                                "@02SR\r",       "@01sr\r",      "@01START\r",
                                "@01sta\r",      "@01\r",        "SR\r",
                                "01f\r",         "#\r",          std::string("%01\0\r", 5),
                                "\xff\xfe\xfd\r"}) {
    SCOPED_TRACE(frame);
    EXPECT_EQ(b.Ask(frame), "");
  }
  EXPECT_EQ(b.Values(), before);
  EXPECT_FALSE(b.gen.Model().UnitRunning(1));
  EXPECT_FALSE(b.gen.Model().UnitRunning(3));
}

TEST(Generator, NoiseBeforeAFrameAndBytesSplitAcrossReadsAreTolerated) {
  Bench b;
  std::string f = b.Ask("%01f\r");
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(b.Ask(std::string("\0\0\xff zz", 7) + "%01f\r"), f);
  EXPECT_EQ(b.Ask("\n%01f\r"), f);  // a line feed left over from a CR LF terminal
  b.gen.Feed("%0", b.now);
  b.gen.Feed("1", b.now);
  EXPECT_EQ(b.Ask("f\r"), f);
  EXPECT_EQ(b.Ask(std::string(5000, '%') + "\r%01f\r"), f);  // overlong, then resynchronised
}

TEST(Generator, RandomBytesNeverProduceAnythingButWellFormedReplies) {
  Bench b;
  std::mt19937 rng(3);
  std::string alphabet = "#%@0123SRf?&.\r\n\x00\xff startwr";
  for (int round = 0; round < 2000; ++round) {
    std::string chunk;
    int n = std::uniform_int_distribution<int>(1, 40)(rng);
    for (int i = 0; i < n; ++i) {
      chunk += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
    }
    std::string out = b.Ask(chunk);
    for (std::size_t pos = 0; pos < out.size();) {
      auto cr = out.find('\r', pos);
      ASSERT_NE(cr, std::string::npos);
      ASSERT_EQ(out.compare(pos, 3, "#02"), 0) << out;
      pos = cr + 1;
    }
  }
}

TEST(Generator, StatusReplyCarriesTheRelease) {
  for (int release : {102, 104, 105, 106, 199, 7}) {
    Options o;
    o.release = release;
    Bench b(o);
    char expected[16];
    std::snprintf(expected, sizeof expected, "#02SR%03d\r", release);
    EXPECT_EQ(b.Ask("@01SR\r"), expected);
  }
}

TEST(Generator, StartsWithItsOwnValuesInsideTheSliderRanges) {
  struct Slider {
    char letter;
    int min, max, panelStart;
  };
  const Slider sliders[] = {{'s', 0, 1000, 30},    {'p', 0, 1000, 500},   {'y', 2000, 5000, 2000},
                            {'w', 10, 10000, 100}, {'m', 0, 100, 50},     {'c', 0, 1000, 30},
                            {'b', 0, 100, 50},     {'a', 10, 10000, 100}, {'q', 0, 255, 30},
                            {'v', 0, 255, 50},     {'g', 0, 255, 100},    {'t', 0, 999, 30}};
  struct Release {
    int release, minHz, maxHz;
  };
  for (Release r : {Release{102, 17500, 28500}, Release{104, 22000, 30000},
                    Release{105, 38000, 45000}, Release{106, 26000, 40000}}) {
    for (std::uint64_t seed : {0u, 1u, 99u, 123456u}) {
      SCOPED_TRACE(testing::Message() << r.release << " seed " << seed);
      GeneratorModel m(r.release, seed, kStart);
      int f = *m.Value('f');
      EXPECT_GE(f, r.minHz);
      EXPECT_LE(f, r.maxHz);
      EXPECT_NE(f, 30000);
      EXPECT_EQ(f % 10, 0);  // so the slider holds it exactly
      EXPECT_GT(m.Transducer().ColdResonanceHz(), r.minHz);
      EXPECT_LT(m.Transducer().ColdResonanceHz(), r.maxHz);
      for (const Slider& s : sliders) {
        int v = *m.Value(s.letter);
        EXPECT_GE(v, s.min) << s.letter;
        EXPECT_LE(v, s.max) << s.letter;
        EXPECT_NE(v, s.panelStart) << s.letter;
      }
    }
  }
}

TEST(Generator, WriteKeepsACopyOfTheUnitsOwnSettings) {
  Bench b;
  int f0 = *b.gen.Model().Value('f');
  int p0 = *b.gen.Model().Value('p');
  b.Ask(Set('f', 1, 31230));
  b.Ask(Set('p', 3, 777));
  EXPECT_EQ(b.gen.Model().StoredValue('f'), f0);
  EXPECT_EQ(b.Ask("@01wr\r"), "");
  EXPECT_EQ(b.gen.Model().StoredValue('f'), 31230);
  EXPECT_EQ(b.gen.Model().StoredValue('p'), p0);
  b.Ask("@03wr\r");
  EXPECT_EQ(b.gen.Model().StoredValue('p'), 777);
}

TEST(Generator, TelemetryFollowsTheRunStateOfBothUnits) {
  Bench b;
  EXPECT_EQ(b.Ask("%03?\r"), "#02?0000000\r");
  EXPECT_EQ(b.Ask("%01&\r"), "#02&000000000\r");
  EXPECT_EQ(b.Ask("@01start\r"), "");
  EXPECT_EQ(b.Ask("%03?\r"), "#02?0000000\r");
  b.Ask("@03start\r");
  b.now += 2s;
  std::string dc = b.Ask("%03?\r");
  std::string hf = b.Ask("%01&\r");
  ASSERT_EQ(dc.size(), 12u);
  ASSERT_EQ(hf.size(), 14u);
  EXPECT_EQ(dc.substr(0, 4), "#02?");
  EXPECT_EQ(dc[10], '1');
  EXPECT_EQ(hf.substr(0, 4), "#02&");
  EXPECT_TRUE(AllDigits(dc.substr(4, 6)));
  EXPECT_TRUE(AllDigits(hf.substr(4, 9)));
  EXPECT_GT(std::stoi(dc.substr(4, 3)), 0);  // DC current
  EXPECT_GT(std::stoi(dc.substr(7, 3)), 0);  // DC voltage
  EXPECT_GT(std::stoi(hf.substr(4, 3)), 0);  // HF current
  b.Ask("@03stop\r");
  EXPECT_EQ(b.Ask("%03?\r"), "#02?0000000\r");
  EXPECT_EQ(b.Ask("%01&\r"), "#02&000000000\r");
}

TEST(Generator, TelemetryStaysThreeDigitsAtEverySettingExtreme) {
  for (bool high : {false, true}) {
    Bench b;
    for (char l : GeneratorModel::kLetters) {
      b.Ask(Set(l, *GeneratorModel::OwnerOf(l), high ? 99999 : 0));
    }
    b.Ask("@01start\r");
    b.Ask("@03start\r");
    for (int i = 0; i < 100; ++i) {
      b.now += 97ms;
      std::string dc = b.Ask("%03?\r");
      std::string hf = b.Ask("%01&\r");
      ASSERT_EQ(dc.size(), 12u) << dc;
      ASSERT_EQ(hf.size(), 14u) << hf;
      ASSERT_TRUE(AllDigits(dc.substr(4, 6))) << dc;
      ASSERT_EQ(dc[10], '1');
      ASSERT_TRUE(AllDigits(hf.substr(4, 9))) << hf;
    }
  }
}

TEST(Generator, SameSeedAndTrafficGiveTheSameBytes) {
  auto run = [](std::uint64_t seed) {
    Options o;
    o.seed = seed;
    o.dropRate = 0.2;
    o.garbageRate = 0.2;
    Bench b(o);
    std::string all = b.Ask("@01start\r@03start\r");
    for (int i = 0; i < 50; ++i) all += b.Ask("%03?\r") + b.Ask("%01&\r") + b.Ask("%01f\r");
    return all;
  };
  EXPECT_EQ(run(5), run(5));
  EXPECT_NE(run(5), run(6));
}

TEST(Generator, RepliesAreDueAfterTheDelayAndNeverOverlap) {
  Options o;
  o.delay = 7ms;
  Generator g(o, kStart);
  g.Feed("%01f\r@01SR\r", kStart);
  EXPECT_EQ(g.NextDue(), kStart + 7ms);
  EXPECT_TRUE(g.TakeDue(kStart + 6ms).empty());
  auto events = g.TakeDue(kStart + 7ms);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].bytes.substr(0, 4), "#02f");
  EXPECT_EQ(events[1].bytes, "#02SR106\r");
  EXPECT_FALSE(g.HasPending());
}

TEST(Generator, PacedRepliesGoOutByteByByteAtTheWireRate) {
  Options o;
  o.pace = true;
  o.delay = 0ms;
  Generator plain(Options{}, kStart);
  Generator g(o, kStart);
  g.Feed("%01f\r%01s\r", kStart);
  plain.Feed("%01f\r%01s\r", kStart);
  std::vector<Generator::ReplyEvent> events = g.TakeDue(kStart + 1s);
  std::string joined;
  for (std::size_t i = 0; i < events.size(); ++i) {
    ASSERT_EQ(events[i].bytes.size(), 1u);
    joined += events[i].bytes;
    if (i > 0) {
      // 10 bits at 19200 bit/s: 520.8 us, rounded to whole microseconds.
      auto gap = events[i].due - events[i - 1].due;
      EXPECT_GE(gap.count(), 520);
      EXPECT_LE(gap.count(), 521);
    }
  }
  EXPECT_EQ(joined, plain.TakeDueBytes(kStart + 1s));
  EXPECT_EQ(events.size(), 22u);
}

// Each fault with its rate at 1: what reaches the line compared with a clean generator.
TEST(Generator, FaultsChangeRepliesAsAsked) {
  auto firstReply = [](const Options& o) {
    Generator g(o, kStart);
    g.Feed("%01f\r", kStart);
    return g.TakeDue(kStart + 1s);
  };

  struct Case {
    const char* name;
    void (*set)(Options&);
    void (*check)(const std::string& clean, const std::vector<Generator::ReplyEvent>& out);
  };
  const Case cases[] = {
      {"drop", [](Options& o) { o.dropRate = 1; },
       [](const std::string&, const std::vector<Generator::ReplyEvent>& out) {
         EXPECT_TRUE(out.empty());
       }},
      {"wrong address", [](Options& o) { o.wrongAddressRate = 1; },
       [](const std::string& c, const std::vector<Generator::ReplyEvent>& out) {
         ASSERT_EQ(out.size(), 1u);
         const std::string& r = out[0].bytes;
         ASSERT_EQ(r.size(), c.size());
         EXPECT_NE(r[2], '2');
         EXPECT_TRUE(r[2] >= '0' && r[2] <= '9');
         EXPECT_EQ(r.substr(0, 2) + r.substr(3), c.substr(0, 2) + c.substr(3));
       }},
      {"garbage", [](Options& o) { o.garbageRate = 1; },
       [](const std::string& c, const std::vector<Generator::ReplyEvent>& out) {
         ASSERT_EQ(out.size(), 1u);
         const std::string& r = out[0].bytes;
         ASSERT_EQ(r.size(), c.size());
         int differing = 0;
         for (std::size_t i = 0; i < r.size(); ++i) differing += r[i] != c[i];
         EXPECT_EQ(differing, 1);
         EXPECT_NE(r.substr(0, 4), c.substr(0, 4));  // the head is hit, so a check sees it
         EXPECT_EQ(r.find('\r'), r.size() - 1);
       }},
      {"split", [](Options& o) { o.splitRate = 1; },
       [](const std::string& c, const std::vector<Generator::ReplyEvent>& out) {
         ASSERT_EQ(out.size(), 2u);
         EXPECT_EQ(out[0].bytes + out[1].bytes, c);
         EXPECT_FALSE(out[0].bytes.empty());
         EXPECT_FALSE(out[1].bytes.empty());
         EXPECT_GE(out[1].due - out[0].due, 100ms);
       }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    for (std::uint64_t seed = 0; seed < 20; ++seed) {
      Options o;
      o.seed = seed;
      std::string clean = firstReply(o)[0].bytes;
      tc.set(o);
      tc.check(clean, firstReply(o));
    }
  }
}

TEST(Generator, FaultRatesHitRoughlyThatShareOfReplies) {
  Options o;
  o.dropRate = 0.3;
  Bench b(o);
  int answered = 0;
  const int n = 1000;
  for (int i = 0; i < n; ++i) answered += !b.Ask("%01f\r").empty();
  EXPECT_GT(answered, n * 6 / 10);
  EXPECT_LT(answered, n * 8 / 10);
  EXPECT_EQ(b.gen.FramesReceived(), static_cast<std::uint64_t>(n));
}

TEST(Generator, HangsUpAfterTheGivenFramesOnceTheirRepliesAreOut) {
  Options o;
  o.hangupAfter = 3;
  Generator g(o, kStart);
  g.Feed("%01f\r#01f31.000\r", kStart);
  EXPECT_FALSE(g.HangUpDue(kStart + 1s));
  g.Feed("@01SR\r%01s\r%01w\r", kStart);
  EXPECT_EQ(g.FramesReceived(), 3u);
  EXPECT_FALSE(g.HangUpDue(kStart + 1s));  // the status reply is still to go out
  std::string out = g.TakeDueBytes(kStart + 1s);
  EXPECT_EQ(out.substr(out.size() - 9), "#02SR106\r");
  // The panel gets a moment to read the last reply before the line goes.
  EXPECT_EQ(g.NextDue(), kStart + 1s + Generator::kHangUpGrace);
  EXPECT_FALSE(g.HangUpDue(kStart + 1s));
  EXPECT_TRUE(g.HangUpDue(kStart + 1s + Generator::kHangUpGrace));
  g.Feed("%01f\r", kStart + 2s);
  EXPECT_FALSE(g.HasPending());
  EXPECT_EQ(g.FramesReceived(), 3u);
}

TEST(Generator, TraceShowsEveryFrameInAndOutReadably) {
  Options o;
  o.trace = true;
  o.dropRate = 0;
  Generator g(o, kStart);
  g.Feed("%01f\r#01f31.000\rjunk\x01\r", kStart + 1234ms);
  g.TakeDueBytes(kStart + 2s);
  auto records = g.TakeTrace();
  ASSERT_EQ(records.size(), 4u);
  std::vector<std::string> lines;
  for (const auto& r : records) lines.push_back(FormatTrace(r, kStart));
  EXPECT_EQ(lines[0], "     1.234 rx %01f\\r");
  EXPECT_EQ(lines[1], "     1.234 rx #01f31.000\\r");
  EXPECT_EQ(lines[2], "     1.234 rx junk\\x01\\r [ignored]");
  EXPECT_EQ(lines[3].substr(0, 18), "     2.000 tx #02f");
  EXPECT_TRUE(g.TakeTrace().empty());

  EXPECT_EQ(Printable(std::string("a\\b\0\x7f\xff\r\n", 8)), "a\\\\b\\x00\\x7F\\xFF\\r\\x0A");
}

}  // namespace
}  // namespace sim
