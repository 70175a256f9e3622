#include "app/controls/TrackBar.h"

#include <algorithm>

namespace app {

int32_t TTrackBar::Clamp(int32_t value) const {
  return std::clamp(value, min_, max_);
}

void TTrackBar::Move(int32_t position) {
  if (position == position_) return;
  position_ = position;
  ViewChanged();
  Changed();
}

void TTrackBar::SetPosition(int32_t value) {
  Move(Clamp(value));
}

void TTrackBar::SetMin(int32_t value) {
  if (value > max_ || value == min_) return;
  min_ = value;
  ViewChanged();
  Move(Clamp(position_));
}

void TTrackBar::SetMax(int32_t value) {
  if (value < min_ || value == max_) return;
  max_ = value;
  ViewChanged();
  Move(Clamp(position_));
}

void TTrackBar::Init(int32_t min, int32_t max, int32_t position) {
  min_ = std::min(min, max);
  max_ = max;
  position_ = Clamp(position);
  ViewChanged();
}

void TTrackBar::OperatorNotify(int32_t position) {
  const int32_t clamped = Clamp(position);
  if (clamped != position_) {
    position_ = clamped;
    ViewChanged();
  }
  Changed();
}

void TTrackBar::OperatorKey(TKey key) {
  int32_t target = position_;
  switch (key) {
    case TKey::LineUp:
      target = position_ - lineSize_;
      break;
    case TKey::LineDown:
      target = position_ + lineSize_;
      break;
    case TKey::PageUp:
      target = position_ - pageSize_;
      break;
    case TKey::PageDown:
      target = position_ + pageSize_;
      break;
    case TKey::Home:
      target = min_;
      break;
    case TKey::End:
      target = max_;
      break;
  }
  OperatorNotify(target);
}

}  // namespace app
