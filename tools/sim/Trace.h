#pragma once

#include <string>
#include <string_view>

#include "tools/sim/TransducerModel.h"

namespace sim {

// One frame crossing the line, for a service engineer watching it.
struct TraceRecord {
  Micros at{0};
  bool received = false;  // true: panel to generator (rx); false: generator to panel (tx)
  std::string bytes;
  std::string note;  // e.g. "dropped", "split 1/2", "ignored"
};

// Bytes shown readably: printable ASCII as it is, CR as \r, a backslash as \\, every other
// byte as \xNN.
std::string Printable(std::string_view bytes);

// "    12.345 rx %01f\r" with the time in milliseconds since origin, and the note in
// brackets after the bytes.
std::string FormatTrace(const TraceRecord& record, Micros origin);

}  // namespace sim
