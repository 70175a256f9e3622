// The packet view's reading of the generator's frames: one row per kind of frame, the panel's
// frames to its units and the generator's replies, then frames that are off their layout or no
// frame at all.

#include <gtest/gtest.h>

#include <string>

#include "tools/term/FrameDecoder.h"

namespace term::test {
namespace {

TEST(FrameDecoder, ReadsEveryKindOfFrameAndMarksWhatDoesNotParse) {
  const struct {
    std::string frame;
    std::string meaning;
  } rows[] = {
      // What the panel sends.
      {"#01f30.000", "to 01: set Frequency DDS 30.000 kHz"},
      {"#03p00.500\r", "to 03: set Power 50.0 %"},
      {"#01f-0.005", "to 01: set Frequency DDS -0.005 kHz"},
      {"%01f", "to 01: read Frequency DDS"},
      {"%03y", "to 03: read MAX Current"},
      {"%03?", "to 03: read DC telemetry"},
      {"%01&", "to 01: read HF telemetry"},
      {"@01SR", "to 01: release request"},
      {"@03wr", "to 03: store the settings (Write)"},
      {"@01start", "to 01: start"},
      {"@03stop", "to 03: stop"},
      // What the generator replies.
      {"#02f33.400", "from 02: Frequency DDS 33.400 kHz"},
      {"#02m00.050", "from 02: PWM ratio 50 %"},
      {"#02SR106", "from 02: release SR106, Frequency DDS 26.000 kHz to 40.000 kHz"},
      {"#02SR104", "from 02: release SR104, Frequency DDS 22.000 kHz to 30.000 kHz, no DC current"},
      {"#02SR199", "from 02: release SR199, not one the panel knows: frequency range kept"},
      {"#02?1234561",
       "from 02: DC current 1.23 A, DC voltage 456 V, DC power 560 W, run status '1', lamp green"},
      {"#02?9999990",
       "from 02: DC current 9.99 A, DC voltage 999 V, DC power 1500 W (bar full: "
       "9980), run status '0', lamp red"},
      {"#02&012345678", "from 02: HF current 12 A, Regulator output 345 Units, Phase 678 Units"},
      // Replies the panel reads that are not laid out as the generator writes them.
      {"#02f 3.400", "from 02: Frequency DDS 3.400 kHz  ?? byte 4 is ' ', a digit wanted"},
      {"#02f33.400xy", "from 02: Frequency DDS 33.400 kHz  ?? 12 bytes, the frame has 10"},
      {"#02?123456",
       "from 02: DC current 1.23 A, DC voltage 456 V, DC power 560 W, run status "
       "\\x00, lamp black  ?? no run status"},
      {"#02&-12345678",
       "from 02: HF current 0 A (bar empty: -12), Regulator output 345 Units, "
       "Phase 678 Units  ?? byte 4 is '-', a digit wanted"},
      // Not frames at all.
      {"", "?? not a generator frame: empty"},
      {"hello", "?? not a generator frame: starts with 'h', not '#', '%' or '@'"},
      {"\n@01SR",
       "?? not a generator frame: 1 byte before its start; from there to 01: release "
       "request"},
      {"#0", "?? not a generator frame: cut short: 2 bytes"},
      {"#x2f", "?? not a generator frame: no unit address after '#'"},
      {"#05f33.400",
       "?? not a generator frame: no unit 05 on the line (01 and 03 take frames, 02 "
       "replies)"},
      {"#02f33.4", "?? not a generator frame: cut short: 8 bytes, the reply has 10"},
      {"#02&12345", "?? not a generator frame: cut short: 9 bytes, the reply has 13"},
      {"#02SX106", "?? not a generator frame: byte 4 is 'X', 'R' wanted"},
      {"#02z12.345", "?? not a generator frame: no reply under 'z'"},
      {"#03f30.000", "?? not a generator frame: Frequency DDS is set on unit 01"},
      {"#01f3x.000", "?? not a generator frame: byte 5 is 'x', a digit wanted"},
      {"#01f-0.000", "?? not a generator frame: the value is written 00.000"},
      {"#01z30.000", "?? not a generator frame: no setting under 'z'"},
      {"%01?", "?? not a generator frame: \"read DC telemetry\" goes to unit 03"},
      {"%01fx", "?? not a generator frame: 5 bytes, the frame has 4"},
      {"%01Z", "?? not a generator frame: nothing to read under 'Z'"},
      {"@03SR", "?? not a generator frame: \"release request\" goes to unit 01"},
      {"@01reset", "?? not a generator frame: no command \"reset\""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DecodeFrame(row.frame), row.meaning) << row.frame;
  }
}

}  // namespace
}  // namespace term::test
