#include "tools/sim/FaultInjector.h"

#include <algorithm>

namespace sim {

FaultInjector::FaultInjector(const Options& options)
    : state_(options.seed),
      drop_(options.dropRate),
      split_(options.splitRate),
      garbage_(options.garbageRate),
      wrongAddress_(options.wrongAddressRate) {}

std::uint64_t FaultInjector::Next() {
  // splitmix64: tiny, well mixed, and the same on every platform.
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double FaultInjector::Uniform() {
  return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

FaultInjector::Decision FaultInjector::Apply(std::string& reply) {
  Decision d;
  d.drop = Uniform() < drop_;
  d.split = Uniform() < split_;
  d.garbage = Uniform() < garbage_;
  d.wrongAddress = Uniform() < wrongAddress_;
  std::uint64_t where = Next();
  std::uint64_t what = Next();
  std::uint64_t digit = Next();
  if (d.drop || reply.size() < 5) return d;

  if (d.wrongAddress) {
    // Any address digit but the panel's own '2'.
    static constexpr char kOthers[] = "013456789";
    reply[2] = kOthers[digit % 9];
  }
  if (d.garbage) {
    // The hit lands in the head ('#', address, letter) so that a reader that checks the
    // head can tell; the frames carry no checksum, so a hit digit would pass unnoticed.
    std::size_t pos = where % 4;
    char original = reply[pos];
    char replacement = static_cast<char>(what % 256);
    if (replacement == original || replacement == '\r')
      replacement = static_cast<char>(original ^ 0x40);
    reply[pos] = replacement;
  }
  return d;
}

}  // namespace sim
