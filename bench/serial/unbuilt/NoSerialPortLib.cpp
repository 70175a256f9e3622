// This build has no libserialport; its row says so.
#include "bench/serial/Contender.h"

namespace bench {

ContenderList SerialPortLibContenders() {
  ContenderList list;
  list.push_back(Unbuilt("libserialport", "libserialport-dev"));
  return list;
}

}  // namespace bench
