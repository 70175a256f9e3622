#pragma once
// The frames the panel sends to the generator. Every frame is plain ASCII ended by a single
// carriage return, with no checksum; the caller hands the text whole to the port's write.
//
//   SetFrame      "#" unit(2) letter int(2) "." frac(3) CR   e.g. "#01f30.000\r"
//   QueryFrame    "%" unit(2) letter CR                      e.g. "%01f\r"
//   CommandFrame  "@" unit(2) word CR                        e.g. "@01start\r", "@01SR\r"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace app::protocol {

// The generator's two controller units, and the address its replies come back under.
inline constexpr int kUnit01 = 1;
inline constexpr int kUnit03 = 3;
inline constexpr int kReplyUnit = 2;

// The Write, Start and Stop buttons send their word to unit 01 first, then to unit 03, as
// two separate writes.
inline constexpr std::array<int, 2> kCommandUnits{kUnit01, kUnit03};
inline constexpr std::string_view kWordWrite = "wr";
inline constexpr std::string_view kWordStart = "start";
inline constexpr std::string_view kWordStop = "stop";
// The status request is a command frame to unit 01 too; only the exchange cycle sends it.
inline constexpr std::string_view kWordStatus = "SR";

// The wire value is the integer with a decimal point before its last three digits, whatever
// the parameter's unit: 30000 Hz is "30.000", a power of 500 is "00.500". Every value a
// slider can produce (0..45000) fits the eleven-byte layout. A negative value carries its
// sign in front of the integer part, inside the same two-character field (-5 gives
// "#01f-0.005\r", -1234 gives "#01f-1.234\r"), so that the frame reads back as the same
// number under the reply reading of positions 4, 5, 7, 8, 9; that holds for -9999..99999.
// Values outside that range widen the integer part and are not sent by the panel.
std::string SetFrame(int unit, char letter, int32_t value);

std::string QueryFrame(int unit, char letter);

std::string CommandFrame(int unit, std::string_view word);

}  // namespace app::protocol
