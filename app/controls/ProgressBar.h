#pragma once
#include <cstdint>

#include "app/controls/Control.h"

namespace app {

// A smooth progress bar. The position is stored as given; the bar shows a value below its
// minimum as empty and above its maximum as full, and reading the position back gives it
// clamped to the range, so what the cycle shows beside a bar never leaves the bar's range.
class TProgressBar : public TControl {
 public:
  using TControl::TControl;

  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  int32_t Position() const;
  void SetPosition(int32_t value) { Assign(position_, value); }
  void Init(int32_t min, int32_t max) {
    min_ = min;
    max_ = max;
    ViewChanged();
  }

  // The bar colour of the platform's PBM_SETBARCOLOR; clDefault is the style's own.
  TColor BarColor() const { return barColor_; }
  void SetBarColor(TColor colour) { Assign(barColor_, colour); }

 private:
  int32_t min_ = 0;
  int32_t max_ = 100;
  int32_t position_ = 0;
  TColor barColor_ = clDefault;
};

}  // namespace app
