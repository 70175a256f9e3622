// The binding both ways: the operator's actions on the widgets reach the controls and run the
// form's handlers exactly once each; the program's changes of the controls show at once and
// never come back as operator actions.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <stdexcept>
#include <string>

#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/qt/Views.h"
#include "tests/app/qt/QtTestSupport.h"

namespace app::test {
namespace {

using protocol::ParamId;

// Counts the runs of one slider's change handler, which keeps doing its work.
struct TSliderProbe {
  TTrackBar& bar;
  int runs = 0;
  TSliderProbe(TMainForm& form, ParamId id) : bar(form.Slider(id)) {
    bar.OnChange = [this, &form, id] {
      ++runs;
      form.TBChange(id);
    };
  }
};

struct Binding : TWindowFixture {
  QSlider* Freq() { return W<QSlider>("TBfreq"); }
  std::string EditText(const char* name) { return W<QLineEdit>(name)->text().toStdString(); }

  QPoint HandleCentre(QSlider* s) {
    QStyleOptionSlider option;
    option.initFrom(s);
    option.minimum = s->minimum();
    option.maximum = s->maximum();
    option.sliderPosition = s->sliderPosition();
    option.sliderValue = s->value();
    option.orientation = s->orientation();
    option.tickPosition = s->tickPosition();
    option.subControls = QStyle::SC_SliderHandle;
    return s->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, s)
        .center();
  }

  void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    const QPointF local(at);
    QMouseEvent event(type, local, w->mapToGlobal(local), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
  }
};

TEST_F(Binding, KeysMoveMarkAndFormatOnceEach) {
  TSliderProbe probe(form, ParamId::freq);
  QSlider* s = Freq();
  struct Step {
    Qt::Key key;
    int32_t position;
  };
  // From 3000: right, page down, up, page up, left, end, home.
  const Step steps[] = {{Qt::Key_Right, 3001},  {Qt::Key_PageDown, 3003}, {Qt::Key_Up, 3002},
                        {Qt::Key_PageUp, 3000}, {Qt::Key_Left, 2999},     {Qt::Key_End, 4500},
                        {Qt::Key_Home, 2500}};
  int runs = 0;
  for (const Step& step : steps) {
    form.Parameter(ParamId::freq).Changed = false;
    QTest::keyClick(s, step.key);
    ++runs;
    EXPECT_EQ(probe.runs, runs) << "one key, one run of the handler";
    EXPECT_EQ(s->value(), step.position);
    EXPECT_EQ(form.Parameter(ParamId::freq).Pending, step.position * 10);
    EXPECT_TRUE(form.Parameter(ParamId::freq).Changed);
    EXPECT_EQ(EditText("Efreq"), protocol::FormatValue(ParamId::freq, step.position * 10));
  }
  EXPECT_EQ(EditText("Efreq"), "25.000 kHz");
}

TEST_F(Binding, DragNotifiesEachMoveAndItsEnd) {
  TSliderProbe probe(form, ParamId::freq);
  QSlider* s = Freq();
  const QPoint handle = HandleCentre(s);

  // A press and release without a move is the end of a drag all the same.
  Mouse(s, QEvent::MouseButtonPress, handle, Qt::LeftButton);
  EXPECT_EQ(probe.runs, 0);
  Mouse(s, QEvent::MouseButtonRelease, handle, Qt::NoButton);
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(s->value(), 3000);
  EXPECT_EQ(EditText("Efreq"), "30.000 kHz");

  Mouse(s, QEvent::MouseButtonPress, handle, Qt::LeftButton);
  Mouse(s, QEvent::MouseMove, handle + QPoint(30, 0), Qt::LeftButton);
  EXPECT_EQ(probe.runs, 2);
  const int32_t dragged = s->value();
  EXPECT_GT(dragged, 3000);
  EXPECT_EQ(form.Slider(ParamId::freq).Position(), dragged);
  Mouse(s, QEvent::MouseButtonRelease, handle + QPoint(30, 0), Qt::NoButton);
  EXPECT_EQ(probe.runs, 3);
  EXPECT_EQ(s->value(), dragged);
  EXPECT_EQ(form.Parameter(ParamId::freq).Pending, dragged * 10);
  EXPECT_EQ(EditText("Efreq"), protocol::FormatValue(ParamId::freq, dragged * 10));
}

TEST_F(Binding, ClickBesideTheHandlePagesOnce) {
  TSliderProbe probe(form, ParamId::power);
  form.PC.SetActivePageIndex(1);
  auto* s = W<QSlider>("TBpower");
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(s->width() - 4, HandleCentre(s).y()));
  EXPECT_EQ(s->value(), 502);
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(form.Slider(ParamId::power).Position(), 502);
  EXPECT_TRUE(form.Parameter(ParamId::power).Changed);
  EXPECT_EQ(EditText("Epower"), "50.2 %");
}

TEST_F(Binding, ProgramChangesShowAtOnceWithoutEcho) {
  TSliderProbe probe(form, ParamId::freq);
  QSlider* s = Freq();
  form.Slider(ParamId::freq).SetPosition(4000);
  EXPECT_EQ(s->value(), 4000);
  EXPECT_EQ(probe.runs, 1) << "the control's own notification only";
  form.Slider(ParamId::freq).SetMax(3000);  // narrowing moves the position
  EXPECT_EQ(s->maximum(), 3000);
  EXPECT_EQ(s->value(), 3000);
  EXPECT_EQ(probe.runs, 2);
  EXPECT_EQ(EditText("Efreq"), "30.000 kHz");
  form.Slider(ParamId::freq).SetEnabled(false);
  EXPECT_FALSE(s->isEnabled());

  form.ParamEdit(ParamId::freq).SetText("12.345 kHz");
  EXPECT_EQ(EditText("Efreq"), "12.345 kHz");

  form.Lcpb.SetVisible(false);
  EXPECT_FALSE(W<QLabel>("Lcpb")->isVisible());
  form.Lsr.SetCaption("SR106 long release text");
  EXPECT_EQ(W<QLabel>("Lsr")->text(), "SR106 long release text");
  EXPECT_GE(W<QLabel>("Lsr")->width(),
            W<QLabel>("Lsr")->fontMetrics().horizontalAdvance("SR106 long release text"));

  auto* bar = W<TProgressBarView>("PBreg");
  form.PBreg.SetPosition(2000);  // above the range: full
  EXPECT_EQ(bar->value(), 1000);
  form.PBreg.SetPosition(-5);  // below: empty
  EXPECT_EQ(bar->value(), 0);
  form.PBreg.SetBarColor(0x0000FF);  // red
  EXPECT_EQ(bar->BarColor(), QColor(255, 0, 0));
  form.PBreg.SetBarColor(clDefault);
  EXPECT_EQ(bar->BarColor(), QApplication::palette().color(QPalette::Highlight));

  form.CB.SetText("/dev/pts/99");
  EXPECT_EQ(W<QComboBox>("CB")->currentText(), "/dev/pts/99");
}

TEST_F(Binding, LampShowsItsFillInsideTheGreyOutline) {
  auto* lamp = W<TShapeView>("Sh");
  const QImage purple = lamp->grab().toImage();
  EXPECT_EQ(purple.pixelColor(16, 28), QColor(128, 0, 128));
  EXPECT_EQ(purple.pixelColor(1, 28), QColor(128, 128, 128));
  form.Sh.SetBrushColor(0x00FF00);  // green
  const QImage green = lamp->grab().toImage();
  EXPECT_EQ(green.pixelColor(16, 28), QColor(0, 255, 0));
  EXPECT_EQ(green.pixelColor(31, 28), QColor(128, 128, 128));
}

TEST_F(Binding, PagesComboAndEditsFromTheOperator) {
  auto* pc = W<QTabWidget>("PC");
  form.PC.SetActivePageIndex(2);  // from the program: shown, not recorded
  EXPECT_EQ(pc->currentIndex(), 2);
  EXPECT_EQ(form.SavedPageIndex, 0);
  QTabBar* tabs = pc->findChild<QTabBar*>();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(3).center());
  EXPECT_EQ(form.PC.ActivePageIndex(), 3);
  EXPECT_EQ(form.SavedPageIndex, 3);

  auto* cb = W<QComboBox>("CB");
  QTest::keyClick(cb, Qt::Key_Down);  // the next item of the list
  EXPECT_EQ(form.CB.Text(), "COM2");
  cb->lineEdit()->selectAll();
  QTest::keyClicks(cb->lineEdit(), "COM12");  // not in the list: taken as typed
  EXPECT_EQ(form.CB.Text(), "COM12");
  QTest::keyClick(cb->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(cb->count(), 10) << "typing adds nothing to the list";

  // The edit boxes are display fields: typing there changes nothing in the form.
  auto* edit = W<QLineEdit>("Efreq");
  QTest::keyClicks(edit, "123");
  EXPECT_EQ(form.ParamEdit(ParamId::freq).Text(), protocol::kWaitingText);
}

TEST_F(Binding, ButtonsRunTheirHandlers) {
  form.ExchangeStep = 7;
  form.ParamEdit(ParamId::freq).SetText("33.000 kHz");
  QTest::mouseClick(W<QPushButton>("Button2"), Qt::LeftButton);  // Read
  EXPECT_EQ(form.ExchangeStep, protocol::kFirstStep);
  EXPECT_EQ(EditText("Efreq"), protocol::kWaitingText);

  QTest::mouseClick(W<QPushButton>("Button1"), Qt::LeftButton);  // Exit
  EXPECT_TRUE(WaitUntil([&] { return !window->isVisible(); }));
}

TEST_F(Binding, FailuresInHandlersAreShownOnceAndTheLoopGoesOn) {
  TErrorRecorder errors;
  form.Slider(ParamId::qf).OnChange = [] { throw std::runtime_error("handler failed"); };
  form.PC.SetActivePageIndex(3);
  QTest::keyClick(W<QSlider>("TBqf"), Qt::Key_Right);
  ASSERT_EQ(errors.Messages(), std::vector<std::string>{"handler failed"});

  // Write on a closed port: the write fails and the frame for the second unit is not tried.
  QTest::mouseClick(W<QPushButton>("Button3"), Qt::LeftButton);
  const std::vector<std::string> seen = errors.Messages();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].find("WriteFile"), std::string::npos) << seen[1];

  // Still working.
  QTest::keyClick(W<QSlider>("TBgf"), Qt::Key_Right);
  EXPECT_EQ(EditText("Egf"), "101");
}

TEST_F(Binding, TheApplicationsHandlerShowsTheStandardErrorBox) {
  platform::SetExceptionHandler(ShowErrorBox);
  // The box is modal: it is read and closed from inside its own loop.
  QString shownText;
  QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shownText = box->text();
      shownIcon = box->icon();
      box->close();
    }
  });
  closer.start(10);
  QTest::mouseClick(W<QPushButton>("Button4"), Qt::LeftButton);  // Start on a closed port
  platform::SetExceptionHandler({});
  EXPECT_EQ(shownIcon, QMessageBox::Critical);
  EXPECT_TRUE(shownText.contains("WriteFile")) << shownText.toStdString();
}

}  // namespace
}  // namespace app::test
