// The window from the keyboard, as operators used it before: Enter presses the focused button,
// the focus starts on the first control of the tab order, and wherever it is, it shows.

#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <string>

#include "app/protocol/ExchangeSteps.h"
#include "tests/app/qt/QtTestSupport.h"

namespace app::test {
namespace {

using Keyboard = TWindowFixture;

void Press(QWidget* w, Qt::Key key, bool autoRepeat = false) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
  QApplication::sendEvent(w, &down);
  QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, QString(), autoRepeat);
  QApplication::sendEvent(w, &up);
}

TEST_F(Keyboard, EnterSpaceAndReturnPressTheFocusedButtonOnce) {
  QPushButton* read = W<QPushButton>("Button2");
  read->setFocus(Qt::TabFocusReason);
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    form.ExchangeStep = 7;
    form.Control<TEdit>("Efreq").SetText("27.340 kHz");
    Press(read, key);
    // Space clicks on its release, the other two at once; the loop delivers either.
    ASSERT_TRUE(WaitUntil([&] { return form.ExchangeStep == protocol::kFirstStep; })) << key;
    EXPECT_EQ(form.Control<TEdit>("Efreq").Text(), "waiting.......") << key;
  }
  // A held key repeats the press no further.
  form.ExchangeStep = 7;
  Press(read, Qt::Key_Return, true);
  QApplication::processEvents();
  EXPECT_EQ(form.ExchangeStep, 7);
}

TEST_F(Keyboard, FocusStartsOnTheFirstControlOfTheTabOrder) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  ASSERT_FALSE(window->FocusOrder().empty());
  EXPECT_EQ(QApplication::focusWidget(), window->FocusOrder().front());
  EXPECT_EQ(window->FocusOrder().front()->objectName().toStdString(), "Button1");
}

// Each kind of control that takes the focus looks different with it than without it.
TEST_F(Keyboard, TheFocusedControlShowsItsFocus) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QWidget* away = W<QPushButton>("Button5");
  for (const char* name : {"Button1", "BO", "TBfreq", "CB", "Efreq"}) {
    QWidget* w = W<QWidget>(name);
    away->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitUntil([&] { return away->hasFocus(); })) << name;
    const QImage without = w->grab().toImage();
    w->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitUntil([&] {
      return QApplication::focusWidget() == w || w->isAncestorOf(QApplication::focusWidget());
    })) << name;
    const QImage with = w->grab().toImage();
    EXPECT_NE(with, without) << name << " does not show that it has the focus";
  }
}

}  // namespace
}  // namespace app::test
