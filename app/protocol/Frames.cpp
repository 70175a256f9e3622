#include "app/protocol/Frames.h"

#include "app/protocol/Format.h"

namespace app::protocol {

std::string SetFrame(int unit, char letter, int32_t value) {
  std::string frame = Format("#%02d", {unit});
  frame.push_back(letter);
  frame += FormatScaled("%02d.%03d\r", value, 1000);
  return frame;
}

std::string QueryFrame(int unit, char letter) {
  // The doubled percent sign leaves exactly one '%' on the wire.
  std::string frame = Format("%%%02d", {unit});
  frame.push_back(letter);
  frame.push_back('\r');
  return frame;
}

std::string CommandFrame(int unit, std::string_view word) {
  std::string frame = Format("@%02d", {unit});
  frame += word;
  frame.push_back('\r');
  return frame;
}

}  // namespace app::protocol
