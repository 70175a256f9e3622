// One application object for the whole test program (the widgets' and the terminal window's), on
// the offscreen platform so that the tests need no display; the port's worker hands its calls to
// this thread, which the tests pump.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "platform/MessageLoop.h"

namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    platform::SetMainThread();
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "valtrex_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace
