#include "tools/sim/Options.h"

#include <charconv>
#include <stdexcept>
#include <string_view>

namespace sim {
namespace {

template <typename T>
T ParseInteger(std::string_view option, std::string_view text, T min, T max) {
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty() || value < min || value > max) {
    throw std::invalid_argument(std::string(option) + ": expected a whole number from " +
                                std::to_string(min) + " to " + std::to_string(max) + ", got '" +
                                std::string(text) + "'");
  }
  return value;
}

double ParseRate(std::string_view option, std::string_view text) {
  // from_chars for double is missing from some standard libraries still in use; strtod
  // is locale-dependent, so accept the plain form "0", "1", "0.25" by hand.
  double value = 0.0;
  double scale = 1.0;
  bool seenDigit = false;
  bool seenPoint = false;
  for (char c : text) {
    if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      if (seenPoint) {
        scale /= 10.0;
        value += (c - '0') * scale;
      } else {
        value = value * 10.0 + (c - '0');
      }
    } else {
      seenDigit = false;
      break;
    }
  }
  if (!seenDigit || value > 1.0) {
    throw std::invalid_argument(std::string(option) +
                                ": expected a rate from 0 to 1 (e.g. 0.1), got '" +
                                std::string(text) + "'");
  }
  return value;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  Options& o = result.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw std::invalid_argument(std::string(name) + " needs a value");
      return args[++i];
    };
    auto noValue = [&] {
      if (inlineValue) throw std::invalid_argument(std::string(name) + " takes no value");
    };

    if (name == "--help" || name == "-h") {
      noValue();
      result.help = true;
    } else if (name == "--version") {
      noValue();
      result.version = true;
    } else if (name == "--link") {
      result.link = std::string(value());
      if (result.link.empty()) throw std::invalid_argument("--link needs a path");
    } else if (name == "--no-link") {
      noValue();
      result.noLink = true;
    } else if (name == "--release") {
      o.release = ParseInteger<int>(name, value(), 0, 999);
    } else if (name == "--seed") {
      o.seed = ParseInteger<std::uint64_t>(name, value(), 0, UINT64_MAX);
    } else if (name == "--delay-ms") {
      o.delay = std::chrono::milliseconds(ParseInteger<int>(name, value(), 0, 10000));
    } else if (name == "--pace") {
      noValue();
      o.pace = true;
    } else if (name == "--drop") {
      o.dropRate = ParseRate(name, value());
    } else if (name == "--split") {
      // Plain --split cuts every reply; --split=RATE only some of them.
      o.splitRate = inlineValue ? ParseRate(name, *inlineValue) : 1.0;
    } else if (name == "--garbage") {
      o.garbageRate = ParseRate(name, value());
    } else if (name == "--wrong-address") {
      o.wrongAddressRate = ParseRate(name, value());
    } else if (name == "--hangup-after") {
      o.hangupAfter = ParseInteger<std::uint64_t>(name, value(), 1, UINT64_MAX);
    } else if (name == "--trace") {
      noValue();
      o.trace = true;
    } else {
      throw std::invalid_argument("unknown option '" + std::string(arg) + "' (see --help)");
    }
  }
  if (result.noLink && !result.link.empty()) {
    throw std::invalid_argument("--link and --no-link cannot go together");
  }
  return result;
}

std::string HelpText(const std::string& program) {
  return "Usage: " + program + R"( [OPTIONS]

Simulates the Valtrex ultrasonic generator (units 01 and 03, replies under 02) on a
pseudo-terminal. Prints the path of the panel's end on standard output, then answers
the panel until interrupted (Ctrl-C or SIGTERM).

Options:
  --link PATH           make the symbolic link to the panel's end at PATH instead (removed
                        at exit). A stale link left by an earlier run is replaced; a
                        link to a port that is still live is never taken.
                        Without it the link is valtrex-sim (or valtrex-sim-2, -3 ... while
                        others run) in the user's folder of virtual ports, where the
                        panel's port list finds it.
  --no-link             make no link; the panel's end is only the printed path.
  --release N           software release in the status reply, 0..999 (default 106;
                        102, 104, 105 and 106 are the releases the panel knows).
  --seed N              seed for the transducer's spread and the fault draws (default 1);
                        the same seed and the same traffic give the same answers.
  --delay-ms N          time from the end of a query to the start of its reply
                        (default 5; the panel reads every 100 ms).
  --pace                send replies byte by byte at the wire rate of 19200 bit/s
                        (about 0.52 ms a byte) instead of in one piece.
  --drop RATE           leave this share of replies unanswered (RATE 0..1).
  --split[=RATE]        send replies in two pieces, the second about 120 ms after the
                        first, so they fall across a panel tick; all replies, or the
                        share RATE of them.
  --garbage RATE        corrupt one byte of the head of this share of replies.
  --wrong-address RATE  send this share of replies under a wrong address (#03, #07 ...).
  --hangup-after N      after N received frames (and their replies), close the line as
                        an unplugged cable does, then exit.
  --trace               write one line per frame in (rx) and out (tx) on standard error,
                        with milliseconds since start; CR shows as \r, other control
                        bytes as \xNN.
  -h, --help            show this text.
  --version             show the simulator's version.

Frames are counted as received at each carriage return, answered or not. A generator
runs (telemetry non-zero, status '1') once both units have been started.
)";
}

}  // namespace sim
