#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Everything that shapes how the simulated generator answers. The defaults give a
// well-behaved generator: release 106, replies 5 ms after the query, no faults.
struct Options {
  int release = 106;  // 0..999, sent as three digits in the status reply
  std::uint64_t seed = 1;
  std::chrono::milliseconds delay{5};
  bool pace = false;  // send replies byte by byte at 19200 bit/s
  double dropRate = 0.0;
  double splitRate = 0.0;
  double garbageRate = 0.0;
  double wrongAddressRate = 0.0;
  std::optional<std::uint64_t> hangupAfter;  // frames received before the line is cut
  bool trace = false;
};

struct CommandLine {
  Options options;
  std::string link;     // empty: the default link in the user's folder of virtual ports
  bool noLink = false;  // no link at all
  bool help = false;
  bool version = false;
};

// Parses the program's arguments (without the program name). Throws std::invalid_argument
// with a message meant for the operator.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string HelpText(const std::string& program);

}  // namespace sim
