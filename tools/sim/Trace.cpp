#include "tools/sim/Trace.h"

#include <cstdio>

namespace sim {

std::string Printable(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20 || u >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatTrace(const TraceRecord& record, Micros origin) {
  long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(record.at - origin).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%6lld.%03lld ", ms / 1000, ms % 1000);
  std::string line = stamp;
  line += record.received ? "rx " : "tx ";
  line += Printable(record.bytes);
  if (!record.note.empty()) line += (record.bytes.empty() ? "[" : " [") + record.note + "]";
  return line;
}

}  // namespace sim
