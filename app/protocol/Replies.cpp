#include "app/protocol/Replies.h"

#include <cstddef>
#include <limits>

namespace app::protocol {

namespace {

// Bytes the read did not deliver are still the zeros the buffer was cleared to.
char At(std::string_view received, std::size_t position) {
  return position < received.size() ? received[position] : '\0';
}

bool HeaderIs(std::string_view received, std::string_view expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (At(received, i) != expected[i]) return false;
  }
  return true;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A numeric reply counts only when the read delivered every position it takes. One cut short by
// the read (its rest comes with the next tick) would read its missing digits as the zeros of the
// cleared buffer and show a value the generator never sent.
bool Complete(std::string_view received, std::size_t lastPosition) {
  return received.size() > lastPosition;
}

template <std::size_t N>
int32_t ReadAt(std::string_view received, const std::array<std::size_t, N>& positions) {
  std::array<char, N> chars{};
  for (std::size_t i = 0; i < N; ++i) chars[i] = At(received, positions[i]);
  return ReadField(std::string_view(chars.data(), N));
}

}  // namespace

int32_t ReadField(std::string_view chars) {
  std::size_t i = 0;
  while (i < chars.size() && IsSpace(chars[i])) ++i;
  bool negative = false;
  if (i < chars.size() && (chars[i] == '+' || chars[i] == '-')) {
    negative = chars[i] == '-';
    ++i;
  }
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < chars.size() && chars[i] >= '0' && chars[i] <= '9'; ++i) {
    if (magnitude < kLimit) magnitude = magnitude * 10 + (chars[i] - '0');
  }
  if (magnitude > kLimit) magnitude = kLimit;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

std::optional<StatusReply> ParseStatusReply(std::string_view received) {
  if (!HeaderIs(received, "#02SR")) return std::nullopt;
  StatusReply reply;
  for (std::size_t i = 3; i <= 7; ++i) {
    const char c = At(received, i);
    if (c == '\0' || c == '\r') break;
    reply.label.push_back(c);
  }
  reply.release = {At(received, 5), At(received, 6), At(received, 7)};
  return reply;
}

std::optional<int32_t> ParseParameterReply(std::string_view received, char letter) {
  const char header[] = {'#', '0', '2', letter};
  if (!HeaderIs(received, std::string_view(header, sizeof header))) return std::nullopt;
  if (!Complete(received, 9)) return std::nullopt;
  return ReadAt(received, std::array<std::size_t, 5>{4, 5, 7, 8, 9});
}

std::optional<DcTelemetry> ParseDcReply(std::string_view received) {
  // The run status is a character, not a field: a reply that ends before it still counts, and
  // the missing status shows as unknown.
  if (!HeaderIs(received, "#02?") || !Complete(received, 9)) return std::nullopt;
  return DcTelemetry{ReadAt(received, std::array<std::size_t, 3>{4, 5, 6}),
                     ReadAt(received, std::array<std::size_t, 3>{7, 8, 9}), At(received, 10)};
}

std::optional<HfTelemetry> ParseHfReply(std::string_view received) {
  if (!HeaderIs(received, "#02&") || !Complete(received, 12)) return std::nullopt;
  return HfTelemetry{ReadAt(received, std::array<std::size_t, 3>{4, 5, 6}),
                     ReadAt(received, std::array<std::size_t, 3>{7, 8, 9}),
                     ReadAt(received, std::array<std::size_t, 3>{10, 11, 12})};
}

}  // namespace app::protocol
