#include "app/protocol/Format.h"

#include <cstddef>

namespace app::protocol {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void AppendInteger(std::string& out, const FormatArg& arg, bool zeroPad, int width) {
  const std::string digits = std::to_string(arg.magnitude);
  const std::size_t length = digits.size() + (arg.negative ? 1 : 0);
  const std::size_t fill =
      static_cast<std::size_t>(width) > length ? static_cast<std::size_t>(width) - length : 0;
  if (!zeroPad) out.append(fill, ' ');
  if (arg.negative) out.push_back('-');
  if (zeroPad) out.append(fill, '0');
  out += digits;
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 16);
  const FormatArg* nextArg = args.begin();
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      out.push_back(format[i++]);
      continue;
    }
    std::size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      out.push_back('%');
      i = j + 1;
      continue;
    }
    bool zeroPad = false;
    if (j < format.size() && format[j] == '0') {
      zeroPad = true;
      ++j;
    }
    int width = 0;
    while (j < format.size() && IsDigit(format[j]) && width <= kMaxFormatWidth) {
      width = width * 10 + (format[j] - '0');
      ++j;
    }
    if (j < format.size() && format[j] == 'd' && width <= kMaxFormatWidth &&
        nextArg != args.end()) {
      AppendInteger(out, *nextArg++, zeroPad, width);
      i = j + 1;
      continue;
    }
    // Not a conversion this formatter knows: the '%' is text, and so is what follows it.
    out.push_back('%');
    ++i;
  }
  return out;
}

std::string FormatScaled(std::string_view format, int32_t value, int32_t divisor) {
  if (divisor <= 1) return Format(format, {value});
  const FormatArg whole(value);
  const auto d = static_cast<uint32_t>(divisor);
  return Format(format, {FormatArg(whole.magnitude / d, whole.negative),
                         FormatArg(whole.magnitude % d, false)});
}

}  // namespace app::protocol
