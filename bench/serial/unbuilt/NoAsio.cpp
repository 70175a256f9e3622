// This build has no Boost.Asio serial_port; its row says so.
#include "bench/serial/Contender.h"

namespace bench {

ContenderList AsioContenders() {
  ContenderList list;
  list.push_back(Unbuilt("Boost.Asio serial_port", "libboost-dev"));
  return list;
}

}  // namespace bench
