#pragma once

#include <cstdint>
#include <string>

#include "tools/sim/Options.h"

namespace sim {

// Decides, reply by reply, which faults hit it. Every reply takes the same number of
// draws from the generator whatever the rates are, so one seed gives one sequence of
// decisions and turning one fault on does not reshuffle when the others strike.
class FaultInjector {
 public:
  struct Decision {
    bool drop = false;
    bool split = false;
    bool garbage = false;
    bool wrongAddress = false;
  };

  FaultInjector(const Options& options);

  // Draws the faults for one reply and applies the byte-changing ones to it.
  Decision Apply(std::string& reply);

 private:
  std::uint64_t Next();
  double Uniform();

  std::uint64_t state_;
  double drop_, split_, garbage_, wrongAddress_;
};

}  // namespace sim
