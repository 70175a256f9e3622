// valtrex-panel: the Valtrex ultrasonic generator control panel. It reads nothing from its
// command line or environment but --version and --help: every action on the generator is the
// operator's.

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/Edge.h"
#include "app/qt/MainWindow.h"
#include "app/qt/PanelApplication.h"
#include "platform/Version.h"

int main(int argc, char** argv) {
  // Answered before the window system is reached, so that they work without a display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("valtrex-panel %s\n", VALTREX_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "Usage: valtrex-panel\n\n"
        "The Valtrex ultrasonic generator control panel. Choose the port in the window and\n"
        "press Connect; nothing acts on the generator but the operator.\n\n"
        "  --help      show this text\n  --version   show the panel's version\n");
    return 0;
  }
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
