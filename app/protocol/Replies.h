#pragma once
// Reading the generator's replies. Every reply starts '#', '0', '2' (unit 02) and is expected
// at the first byte of what one read delivered; the panel never scans for frame boundaries.
// A parser takes the bytes actually received (possibly none, possibly with NULs) and reads a
// position past their end as '\0', as the receive buffer cleared to zero would give. Only
// the positions named below are looked at: not a trailing CR, nothing after the last field.
// A numeric reply is taken only when the read delivered all its fields: cut short, its rest
// arrives with the next read and fails there, and neither part shows a made-up value.
//
//   status     "#02SR" r r r                 label = positions 3..7, release = 5, 6, 7
//   parameter  "#02" L d d . d d d           value = positions 4, 5, 7, 8, 9 (6 is skipped)
//   DC         "#02?" ccc vvv s              current 4..6, voltage 7..9, run status 10
//   HF         "#02&" hhh rrr ppp            HF current 4..6, regulator 7..9, phase 10..12

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app::protocol {

// A field read the way C atol reads it, over just the characters taken: leading white
// space skipped, one '+' or '-', digits up to the first non-digit; a NUL ends the field and
// a field with no digit reads 0. Fields longer than any reply's saturate at the int32 limits.
int32_t ReadField(std::string_view chars);

using Release = std::array<char, 3>;

struct StatusReply {
  // "SR" and the release, for the release label. It ends early at a NUL or CR, so a short
  // reply never puts control characters on the window.
  std::string label;
  // The three release characters as received ('\0' where the reply ended).
  Release release;

  bool operator==(const StatusReply&) const = default;
};

// Accepted only if positions 0..4 are exactly "#02SR".
std::optional<StatusReply> ParseStatusReply(std::string_view received);

// Accepted only if positions 0..3 are "#02" and the parameter's letter.
std::optional<int32_t> ParseParameterReply(std::string_view received, char letter);

// The reply to "%03?\r". runStatus is position 10 as received.
struct DcTelemetry {
  int32_t current;
  int32_t voltage;
  char runStatus;

  bool operator==(const DcTelemetry&) const = default;
};
std::optional<DcTelemetry> ParseDcReply(std::string_view received);

// The reply to "%01&\r".
struct HfTelemetry {
  int32_t hfCurrent;
  int32_t regulator;
  int32_t phase;

  bool operator==(const HfTelemetry&) const = default;
};
std::optional<HfTelemetry> ParseHfReply(std::string_view received);

}  // namespace app::protocol
