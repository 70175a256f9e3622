#include "serial/Async.h"

namespace serial {

TAsync::TAsync() : Event(true, true) {
  Overlapped.hEvent = &Event;
}

}  // namespace serial
