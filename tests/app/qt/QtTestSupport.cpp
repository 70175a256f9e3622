#include "tests/app/qt/QtTestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>

namespace app::test {
namespace {

// The application object for the whole test program, on the offscreen platform so that the
// tests need no display, with the program's own style and font.
class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    SetUpPanelApplication(*application_);
    platform::SetExceptionHandler({});
  }
  void TearDown() override {
    TearDownPanelApplication();
    application_.reset();
  }

 private:
  int argc_ = 1;
  char name_[16] = "qt_panel_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace

void TWindowFixture::TypePortAndConnect(const QString& name) {
  auto* combo = W<QComboBox>("CB");
  combo->lineEdit()->selectAll();
  QTest::keyClick(combo->lineEdit(), Qt::Key_Delete);
  QTest::keyClicks(combo->lineEdit(), name);
  ASSERT_EQ(form.CB.Text(), name.toStdString());
  QTest::mouseClick(W<QPushButton>("BO"), Qt::LeftButton);
}

}  // namespace app::test
