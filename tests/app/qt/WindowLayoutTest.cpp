// The window as built from the layout table: its frame, every control at its place on its
// parent with its text, the focus order, and whether every text fits the room it is given.

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <string>

#include "app/Layout.h"
#include "app/controls/Control.h"
#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/qt/Views.h"
#include "tests/app/qt/QtTestSupport.h"

namespace app::test {
namespace {

using WindowLayout = TWindowFixture;

TEST_F(WindowLayout, FrameCaptionAndPlace) {
  EXPECT_EQ(window->windowTitle().toStdString(), kFormCaption);
  EXPECT_EQ(window->size(), QSize(kClientWidth, kClientHeight));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the border is fixed";
  EXPECT_EQ(window->pos(), QPoint(kFormLeft, kFormTop));
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(WindowLayout, EveryControlAtItsPlaceOnItsParent) {
  for (const TLayoutItem& item : MainFormLayout()) {
    SCOPED_TRACE(item.name);
    QWidget* w = window->Widget(item.name);
    ASSERT_NE(w, nullptr);
    if (item.kind == TControlKind::Page) continue;  // placed by its page control
    QWidget* parent = item.parent == kFormName ? window.get() : window->Widget(item.parent);
    EXPECT_EQ(w->parentWidget(), parent);
    EXPECT_EQ(w->pos(), QPoint(item.left, item.top));
    if (item.width != 0 || item.height != 0) {
      EXPECT_EQ(w->size(), QSize(item.width, item.height));
    }
    if (item.kind == TControlKind::Label) {
      auto* label = qobject_cast<QLabel*>(w);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->text().toStdString(), item.caption);
      EXPECT_EQ(label->height(), 13) << "one text line";
      EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
    }
    if (item.kind == TControlKind::Button) {
      EXPECT_EQ(qobject_cast<QPushButton*>(w)->text().toStdString(), item.caption);
    }
  }
}

TEST_F(WindowLayout, PagesInTabOrderWithTheirSliders) {
  auto* pc = W<QTabWidget>("PC");
  ASSERT_EQ(pc->count(), 5);
  const char* captions[] = {"DDS", "Power", "FSWM", "DMMM", "US power"};
  const char* names[] = {"DDS", "Power", "TabSheet4", "TabSheet1", "TabSheet2"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(pc->tabText(i).toStdString(), captions[i]);
    EXPECT_EQ(pc->widget(i), window->Widget(names[i]));
  }
  EXPECT_EQ(pc->currentIndex(), 0);
  for (const protocol::ParameterInfo& p : protocol::kParameters) {
    SCOPED_TRACE(std::string(p.slider));
    auto* s = W<QSlider>(std::string(p.slider));
    EXPECT_EQ(pc->tabText(pc->indexOf(s->parentWidget())).toStdString(), p.page);
    EXPECT_EQ(s->orientation(), Qt::Horizontal);
    EXPECT_EQ(s->minimum(), p.min);
    EXPECT_EQ(s->maximum(), p.max);
    EXPECT_EQ(s->value(), p.initial);
    // The design position shows without the handler having run: nothing marked, no value shown.
    EXPECT_FALSE(form.Parameter(p.id).Changed);
    EXPECT_EQ(W<QLineEdit>(std::string(p.edit))->text().toStdString(), protocol::kWaitingText);
  }
}

TEST_F(WindowLayout, StartUpTextsColoursAndPicture) {
  for (std::string_view name : protocol::kFormCreateWaitingEdits) {
    EXPECT_EQ(W<QLineEdit>(std::string(name))->text().toStdString(), protocol::kWaitingText)
        << name;
  }
  EXPECT_EQ(W<QLabel>("Lsr")->text(), "Unknown");
  EXPECT_TRUE(W<QLabel>("Lcpb")->isVisible());
  EXPECT_EQ(W<QLabel>("Lcpb")->text(), "COM port busy");

  auto* cb = W<QComboBox>("CB");
  EXPECT_TRUE(cb->isEditable());
  ASSERT_EQ(cb->count(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(cb->itemText(i), QString("COM%1").arg(i + 1));
  EXPECT_EQ(cb->currentText(), "COM1");

  const QColor style = QApplication::palette().color(QPalette::Highlight);
  const std::pair<const char*, QColor> bars[] = {{"PBreg", QColor(0, 128, 128)},
                                                 {"PBdc_power", QColor(255, 128, 0)},
                                                 {"PBfcor", QColor(0, 0, 128)},
                                                 {"PBac_current", style},
                                                 {"PBchf", style},
                                                 {"PBph", style}};
  for (const auto& [name, colour] : bars) {
    auto* bar = W<TProgressBarView>(name);
    EXPECT_EQ(bar->BarColor(), colour) << name;
    EXPECT_FALSE(bar->isTextVisible()) << name;
  }

  auto* image = W<TImageView>("Image1");
  EXPECT_EQ(image->Picture().size(), QSize(445, 68));
  EXPECT_FALSE(image->Picture().hasAlphaChannel());
  EXPECT_EQ(image->Picture().toImage().bitPlaneCount(), 24);
}

TEST_F(WindowLayout, TabVisitsEachParentsControlsInTheirOrder) {
  // The window's order, with the page control's place taken by its pages' controls.
  std::vector<std::string> expected = {"Button1", "Button2", "Button3", "Button4", "Button5", "PC"};
  for (const char* page : {"DDS", "Power", "TabSheet4", "TabSheet1", "TabSheet2"}) {
    std::vector<const TLayoutItem*> inner;
    for (const TLayoutItem& item : MainFormLayout()) {
      if (item.parent == page && item.focus >= 0) inner.push_back(&item);
    }
    std::sort(inner.begin(), inner.end(), [](auto* a, auto* b) { return a->focus < b->focus; });
    for (const TLayoutItem* item : inner) {
      if (item->kind != TControlKind::ProgressBar) expected.push_back(item->name);
    }
  }
  for (const char* name : {"Edc_power", "Ereg", "Eacc", "BO", "CB"}) expected.push_back(name);

  // Walk the focus chain as Tab does, keeping the widgets that Tab stops at; the page
  // control takes focus through its tab bar.
  QWidget* tabs = window->WidgetAs<QTabWidget>("PC")->findChild<QTabBar*>();
  std::vector<std::string> seen;
  QWidget* start = window->Widget("Button1");
  QWidget* w = start;
  do {
    if (w == tabs) {
      seen.push_back("PC");
    } else if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() &&
               window->Widget(w->objectName().toStdString()) == w) {
      seen.push_back(w->objectName().toStdString());
    }
    w = w->nextInFocusChain();
  } while (w != start && seen.size() < 200);
  EXPECT_EQ(seen, expected);

  // And with the keyboard on the shown page: from the last button into the first page.
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->Widget("Button5")->setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), tabs);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), window->Widget("TBfreq"));
}

// Every caption fits before the next control on its row, and the longest values fit their
// boxes: the layout leaves little room, and a wider font would run texts into each other.
TEST_F(WindowLayout, TextsFitTheirPlaces) {
  for (const TLayoutItem& item : MainFormLayout()) {
    if (item.kind != TControlKind::Label) continue;
    SCOPED_TRACE(item.name);
    QWidget* label = window->Widget(item.name);
    const QRect box = label->geometry();
    EXPECT_LE(box.right(), label->parentWidget()->width() - 1);
    for (QWidget* other :
         label->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (other == label) continue;
      const QRect o = other->geometry();
      const bool sameRow = o.top() <= box.bottom() && box.top() <= o.bottom();
      if (sameRow && o.left() >= box.left()) {
        EXPECT_LT(box.right(), o.left()) << "runs into " << other->objectName().toStdString();
      }
    }
  }

  // The widest texts each kind of box is given.
  const std::pair<const char*, const char*> values[] = {
      {"Efreq", "45.000 kHz"},    {"Efreq", "waiting......."}, {"Epwmp", "10.000 s"},
      {"Eacc", "waiting......."}, {"Eusp", "waiting......."},  {"Eph", "waiting......."}};
  for (const auto& [name, text] : values) {
    auto* edit = W<QLineEdit>(name);
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    const QRect inner = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(text), inner.width() - 4)
        << name << ": " << text;
  }
  auto* cb = W<QComboBox>("CB");
  EXPECT_LE(cb->fontMetrics().horizontalAdvance("COM10"), cb->lineEdit()->width() - 4);
}

}  // namespace
}  // namespace app::test
