// This build has no Qt: neither QSerialPort nor our port under a Qt loop; their rows say so.
#include "bench/serial/Contender.h"

namespace bench {

ContenderList QtContenders() {
  ContenderList list;
  list.push_back(Unbuilt("QSerialPort", "qt6-serialport-dev"));
  return list;
}

ContenderList ComPortQtContenders() {
  ContenderList list;
  list.push_back(Unbuilt("TComPort smThreadSync, Qt loop", "qt6-serialport-dev"));
  return list;
}

}  // namespace bench
