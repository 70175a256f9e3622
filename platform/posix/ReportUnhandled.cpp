#include "platform/ReportUnhandled.h"

#include <cstdio>

namespace platform {

void ReportUnhandled(const char* message) {
  std::fprintf(stderr, "%s\n", message);
}

}  // namespace platform
