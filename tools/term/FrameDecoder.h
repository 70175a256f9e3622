#pragma once
// What one frame of the generator's protocol means, for the terminal's packet view. The frame is
// read with the panel's own parsers, parameter table, frame builders and display formats, so that
// the terminal never tells a different story about the same bytes than the panel does. No toolkit
// and no port: bytes in, text out.
//
//   to 01: set Frequency DDS 30.000 kHz                         #01f30.000
//   to 03: read DC telemetry                                     %03?
//   to 01: start                                                 @01start
//   from 02: Frequency DDS 33.400 kHz                            #02f33.400
//   from 02: release SR106, Frequency DDS 26.000 kHz to 40.000 kHz
//   from 02: DC current 1.23 A, DC voltage 456 V, DC power 560 W, run status '1', lamp green
//   ?? not a generator frame: no unit 05 on the line (01 and 03 take frames, 02 replies)

#include <string>
#include <string_view>

namespace term {

// Starts the text of a frame the generator's side would not take and the panel would not read.
inline constexpr std::string_view kNotAFrame = "?? not a generator frame: ";
// Follows the meaning of a reply the panel reads although it is not laid out as the generator
// lays out its replies (a blank for a digit, bytes past its end), and says where it differs.
inline constexpr std::string_view kOffLayout = "  ?? ";

// The meaning of one frame: its bytes without the CR that ends it (one CR at the end is taken as
// that CR). The meaning does not depend on which way the frame went: the terminal may stand in for
// either side of the line, and the address tells which side a frame is for.
std::string DecodeFrame(std::string_view frame);

}  // namespace term
