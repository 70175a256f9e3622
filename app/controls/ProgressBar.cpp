#include "app/controls/ProgressBar.h"

#include <algorithm>

namespace app {

int32_t TProgressBar::Position() const {
  return min_ <= max_ ? std::clamp(position_, min_, max_) : min_;
}

}  // namespace app
