#include <gtest/gtest.h>

#include <vector>

#include "app/controls/ProgressBar.h"
#include "app/controls/StdControls.h"
#include "app/controls/TrackBar.h"

namespace app {
namespace {

// A slider with the frequency slider's layout, recording each change notification's position.
struct Slider {
  TTrackBar bar{"TBfreq"};
  std::vector<int32_t> seen;
  Slider() {
    bar.Init(2500, 4500, 3000);
    bar.OnChange = [this] { seen.push_back(bar.Position()); };
  }
};

TEST(TrackBar, InitialisationRaisesNoChange) {
  TTrackBar bar("TB");
  int changes = 0;
  bar.OnChange = [&] { ++changes; };
  bar.Init(0, 255, 30);
  EXPECT_EQ(bar.Position(), 30);
  EXPECT_EQ(changes, 0);
}

TEST(TrackBar, CodeSetsClampAndNotifyOnlyOnMove) {
  Slider s;
  s.bar.SetPosition(3000);  // the same position: nothing
  EXPECT_TRUE(s.seen.empty());
  s.bar.SetPosition(9999);  // clamped to the maximum
  s.bar.SetPosition(4500);  // already there after clamping
  s.bar.SetPosition(-5);    // clamped to the minimum
  EXPECT_EQ(s.seen, (std::vector<int32_t>{4500, 2500}));
}

TEST(TrackBar, HandlerRunsInsideTheAssignment) {
  TTrackBar bar("TB");
  bar.Init(0, 255, 30);
  int32_t seenInside = -1;
  bar.OnChange = [&] { seenInside = bar.Position(); };
  bar.SetPosition(300);
  EXPECT_EQ(seenInside, 255);
}

TEST(TrackBar, InvertedRangeIsIgnoredAndNarrowingNotifies) {
  Slider s;
  s.bar.SetMin(4600);  // above the maximum
  s.bar.SetMax(2400);  // below the minimum
  EXPECT_EQ(s.bar.Min(), 2500);
  EXPECT_EQ(s.bar.Max(), 4500);
  EXPECT_TRUE(s.seen.empty());

  s.bar.SetPosition(4000);
  s.seen.clear();
  s.bar.SetMax(3000);  // moves the position: notifies
  s.bar.SetMin(2200);  // position 3000 stays: no notification
  EXPECT_EQ(s.bar.Position(), 3000);
  EXPECT_EQ(s.seen, (std::vector<int32_t>{3000}));
}

TEST(TrackBar, OperatorNotificationsAlwaysRunTheHandler) {
  Slider s;
  s.bar.OperatorNotify(3100);  // a move
  s.bar.OperatorNotify(3100);  // the end of the drag, same place
  s.bar.OperatorKey(TTrackBar::TKey::End);
  s.bar.OperatorKey(TTrackBar::TKey::LineDown);  // a key at the end
  s.bar.OperatorKey(TTrackBar::TKey::PageUp);
  s.bar.OperatorKey(TTrackBar::TKey::LineUp);
  s.bar.OperatorKey(TTrackBar::TKey::Home);
  EXPECT_EQ(s.seen, (std::vector<int32_t>{3100, 3100, 4500, 4500, 4498, 4497, 2500}));
}

TEST(TrackBar, ViewIsToldOfEveryVisibleChange) {
  TTrackBar bar("TB");
  bar.Init(0, 100, 50);
  int views = 0;
  bar.OnViewChange = [&] { ++views; };
  bar.SetPosition(50);
  EXPECT_EQ(views, 0);
  bar.SetPosition(60);
  bar.SetMax(80);
  bar.SetEnabled(false);
  EXPECT_EQ(views, 3);
}

TEST(ProgressBar, StoresUnclampedAndReadsBackClamped) {
  TProgressBar bar("PBreg");
  bar.Init(0, 1000);
  bar.SetPosition(2000);
  EXPECT_EQ(bar.Position(), 1000);
  bar.SetPosition(-3);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(456);
  EXPECT_EQ(bar.Position(), 456);
  EXPECT_EQ(bar.BarColor(), clDefault);
}

TEST(PageControl, OperatorSelectionNotifiesCodeSelectionDoesNot) {
  TPageControl pc("PC");
  for (const char* caption : {"DDS", "Power", "FSWM"}) pc.AddPage(caption, caption);
  int changes = 0;
  pc.OnChange = [&] { ++changes; };
  pc.SetActivePageIndex(2);
  pc.SetActivePageIndex(7);  // no such page
  EXPECT_EQ(pc.ActivePageIndex(), 2);
  EXPECT_EQ(changes, 0);
  pc.OperatorSelect(1);
  EXPECT_EQ(pc.ActivePageIndex(), 1);
  EXPECT_EQ(changes, 1);
}

TEST(ComboBox, TypingDoesNotEchoToTheView) {
  TComboBox cb("CB");
  int views = 0;
  cb.OnViewChange = [&] { ++views; };
  cb.OperatorText("/tmp/valtrex-sim0");
  EXPECT_EQ(cb.Text(), "/tmp/valtrex-sim0");
  EXPECT_EQ(views, 0);
  cb.SetText("COM1");
  EXPECT_EQ(views, 1);
}

}  // namespace
}  // namespace app
