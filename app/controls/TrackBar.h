#pragma once
#include <cstdint>

#include "app/controls/Control.h"

namespace app {

// A horizontal slider. Setting the position or the range from code clamps and notifies only when
// the position moves, inside the assignment; an operator's notification always runs OnChange,
// also one that leaves the position where it was (the end of a drag, a key at an end).
class TTrackBar : public TControl {
 public:
  using TControl::TControl;

  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  int32_t Position() const { return position_; }
  int32_t Frequency() const { return frequency_; }
  int32_t LineSize() const { return lineSize_; }
  int32_t PageSize() const { return pageSize_; }

  // A minimum above the maximum, or a maximum below the minimum, is ignored.
  void SetMin(int32_t value);
  void SetMax(int32_t value);
  void SetPosition(int32_t value);
  void SetFrequency(int32_t value) { Assign(frequency_, value); }

  // Design-time settings, applied before any handler is attached: no notification.
  void Init(int32_t min, int32_t max, int32_t position);

  // The operator moved the slider (drag, key, click) to `position`, or ended a drag there.
  void OperatorNotify(int32_t position);
  // The operator pressed a key: line step (±1), page step (±2), Home/End.
  enum class TKey { LineUp, LineDown, PageUp, PageDown, Home, End };
  void OperatorKey(TKey key);

  TNotifyEvent OnChange;

 private:
  int32_t Clamp(int32_t value) const;
  void Move(int32_t position);  // store, show and notify if it differs
  void Changed() {
    if (OnChange) OnChange();
  }

  int32_t min_ = 0;
  int32_t max_ = 10;
  int32_t position_ = 0;
  int32_t frequency_ = 1;
  int32_t lineSize_ = 1;
  int32_t pageSize_ = 2;
};

}  // namespace app
