// This build has no QSerialPort; its row says so.
#include "bench/serial/Contender.h"

namespace bench {

ContenderList QtContenders() {
  ContenderList list;
  list.push_back(Unbuilt("QSerialPort", "qt6-serialport-dev"));
  return list;
}

}  // namespace bench
