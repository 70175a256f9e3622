#pragma once
// The panel's printf-style formatter for frames and display texts. It knows exactly the
// conversions the panel's formats use: %d, %0Nd (and %Nd), and %% for one literal percent
// sign. A '%' that does not start one of these (for instance the lone '%' that ends
// "%d.%01d %") is copied literally together with what follows it, so a power of 500 shows
// as "50.0 %". A %d with no argument left is copied literally too, never read from nowhere.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace app::protocol {

// One integer argument, held as sign and magnitude so that a negative number whose integer
// part is zero (-0.005 as "-0" and "005") can still carry its sign.
struct FormatArg {
  constexpr FormatArg(int32_t value)  // NOLINT(google-explicit-constructor): reads like printf
      : magnitude(value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value)),
        negative(value < 0) {}
  constexpr FormatArg(uint32_t magnitudeIn, bool negativeIn)
      : magnitude(magnitudeIn), negative(negativeIn) {}

  uint32_t magnitude;
  bool negative;
};

// Widths above this are not taken as conversions; no format of the panel comes near it.
inline constexpr int kMaxFormatWidth = 64;

// Formats like printf: a zero-padded width counts the sign, so "%03d" of -5 gives "-05".
std::string Format(std::string_view format, std::initializer_list<FormatArg> args);

// Formats a value shown with a decimal point: the format's two conversions receive
// value / divisor and value % divisor (divisor 1000, 100 or 10); with divisor 1 the format
// receives the value alone. A negative value prints its sign once, in front of the
// integer part, and the remainder as a magnitude: -5 with "%d.%03d kHz" gives "-0.005 kHz".
// Non-negative values print exactly as the plain integer division and remainder would.
std::string FormatScaled(std::string_view format, int32_t value, int32_t divisor);

}  // namespace app::protocol
