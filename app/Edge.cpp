#include "app/Edge.h"

#include "platform/Application.h"

namespace app {

void ReportAtEdge(std::exception_ptr error) noexcept {
  try {
    platform::HandleException(error);
  } catch (...) {
  }
}

}  // namespace app
