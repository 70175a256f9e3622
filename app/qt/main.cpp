// valtrex-panel: the Valtrex ultrasonic generator control panel. It reads nothing from its
// command line or environment: every action on the generator is the operator's.

#include <QApplication>
#include <exception>

#include "app/Edge.h"
#include "app/qt/MainWindow.h"
#include "app/qt/PanelApplication.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  app::SetUpPanelApplication(application);
  try {
    app::TMainWindow window;
    window.show();
    QApplication::exec();
  } catch (...) {
    // A failure while the window is built or torn down is shown like any other; then the
    // program ends.
    app::ReportAtEdge(std::current_exception());
  }
  app::TearDownPanelApplication();
  // The window is gone, and with it the port. The operator has been told of every failure, so
  // the exit status says nothing more.
  return 0;
}
