// The reply parsers and the field reader on what one read can deliver: up to 20 bytes, any
// values. A parser must accept exactly when its checked positions hold its header and, for a
// numeric reply, the read delivered every position of its fields; it then gives what the
// positions hold, fields read as C's atol would read them. The terminal's frame decoder reads the
// same bytes as a packet: it says "from 02" exactly when one of the parsers takes them, and nothing
// it writes is a control byte.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Replies.h"
#include "fuzz/FuzzCheck.h"
#include "tools/term/FrameDecoder.h"

namespace {

namespace protocol = app::protocol;

constexpr size_t kReadSize = 20;

char At(std::string_view received, size_t position) {
  return position < received.size() ? received[position] : '\0';
}

// The C library's reading of the same characters, saturated to the int32 range: the field
// reader promises atol's result for every field the replies can hold.
int32_t LibraryRead(std::string_view chars) {
  const std::string terminated(chars.substr(0, chars.find('\0')));
  errno = 0;
  const long long value = std::strtoll(terminated.c_str(), nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

int32_t FieldAt(std::string_view received, std::initializer_list<size_t> positions) {
  std::string chars;
  for (size_t p : positions) chars.push_back(At(received, p));
  return LibraryRead(chars);
}

bool HeaderIs(std::string_view received, std::string_view header) {
  for (size_t i = 0; i < header.size(); ++i) {
    if (At(received, i) != header[i]) return false;
  }
  return true;
}

// A field of n characters holds at most n digits, or a sign and n - 1 digits.
bool FitsField(int32_t value, int digits) {
  int32_t largest = 1;
  for (int i = 0; i < digits; ++i) largest *= 10;
  return value < largest && value > -(largest / 10);
}

void CheckStatus(std::string_view received, int& accepted) {
  const auto reply = protocol::ParseStatusReply(received);
  FUZZ_CHECK(reply.has_value() == HeaderIs(received, "#02SR"));
  if (!reply) return;
  ++accepted;
  // The label is positions 3..7 up to the first NUL or CR, so it starts with "SR".
  std::string label;
  for (size_t i = 3; i <= 7 && At(received, i) != '\0' && At(received, i) != '\r'; ++i) {
    label.push_back(At(received, i));
  }
  FUZZ_CHECK(reply->label == label);
  FUZZ_CHECK(reply->label.size() >= 2 && reply->label.size() <= 5);
  FUZZ_CHECK(reply->label.find('\0') == std::string::npos);
  FUZZ_CHECK(reply->label.find('\r') == std::string::npos);
  FUZZ_CHECK(reply->release[0] == At(received, 5));
  FUZZ_CHECK(reply->release[1] == At(received, 6));
  FUZZ_CHECK(reply->release[2] == At(received, 7));
}

void CheckParameter(std::string_view received, char letter, int& accepted) {
  const auto value = protocol::ParseParameterReply(received, letter);
  const char header[] = {'#', '0', '2', letter};
  FUZZ_CHECK(value.has_value() ==
             (HeaderIs(received, std::string_view(header, sizeof header)) && received.size() > 9));
  if (!value) return;
  ++accepted;
  // Position 6 is the decimal point and is never read.
  FUZZ_CHECK(*value == FieldAt(received, {4, 5, 7, 8, 9}));
  FUZZ_CHECK(FitsField(*value, 5));
}

void CheckDc(std::string_view received, int& accepted) {
  const auto reply = protocol::ParseDcReply(received);
  // The run status at position 10 is a character, not a field: it may be missing.
  FUZZ_CHECK(reply.has_value() == (HeaderIs(received, "#02?") && received.size() > 9));
  if (!reply) return;
  ++accepted;
  FUZZ_CHECK(reply->current == FieldAt(received, {4, 5, 6}));
  FUZZ_CHECK(reply->voltage == FieldAt(received, {7, 8, 9}));
  FUZZ_CHECK(reply->runStatus == At(received, 10));
  FUZZ_CHECK(FitsField(reply->current, 3) && FitsField(reply->voltage, 3));
}

void CheckHf(std::string_view received, int& accepted) {
  const auto reply = protocol::ParseHfReply(received);
  FUZZ_CHECK(reply.has_value() == (HeaderIs(received, "#02&") && received.size() > 12));
  if (!reply) return;
  ++accepted;
  FUZZ_CHECK(reply->hfCurrent == FieldAt(received, {4, 5, 6}));
  FUZZ_CHECK(reply->regulator == FieldAt(received, {7, 8, 9}));
  FUZZ_CHECK(reply->phase == FieldAt(received, {10, 11, 12}));
  FUZZ_CHECK(FitsField(reply->hfCurrent, 3) && FitsField(reply->regulator, 3) &&
             FitsField(reply->phase, 3));
}

// The packet view shows a frame without the CR that ended it, and the decoder drops one CR at the
// end; the panel's parsers are asked about what the decoder reads.
void CheckDecoded(std::string_view received) {
  const std::string text = term::DecodeFrame(received);
  for (const char c : text) FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
  const std::string_view frame = !received.empty() && received.back() == '\r'
                                     ? received.substr(0, received.size() - 1)
                                     : received;
  bool read = protocol::ParseStatusReply(frame) || protocol::ParseDcReply(frame) ||
              protocol::ParseHfReply(frame);
  for (const protocol::ParameterInfo& info : protocol::kParameters) {
    read = read || protocol::ParseParameterReply(frame, info.letter).has_value();
  }
  FUZZ_CHECK(read == (text.rfind("from 02: ", 0) == 0));
  FUZZ_CHECK(read || text.rfind(term::kNotAFrame, 0) == 0 || text.rfind("to 01: ", 0) == 0 ||
             text.rfind("to 03: ", 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view received(reinterpret_cast<const char*>(data),
                                  size < kReadSize ? size : kReadSize);

  // The whole read as one field too: longer than any reply's, so saturation is reached.
  FUZZ_CHECK(protocol::ReadField(received) == LibraryRead(received));

  // The replies' headers differ at position 3, so no read is taken by two parsers.
  int accepted = 0;
  CheckStatus(received, accepted);
  CheckDc(received, accepted);
  CheckHf(received, accepted);
  for (const protocol::ParameterInfo& info : protocol::kParameters) {
    CheckParameter(received, info.letter, accepted);
  }
  FUZZ_CHECK(accepted <= 1);

  // Any letter, known or not, follows the same rule.
  CheckParameter(received, At(received, 3), accepted);
  CheckParameter(received, static_cast<char>(At(received, 3) ^ 0x20), accepted);

  CheckDecoded(received);
  return 0;
}
