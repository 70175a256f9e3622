// valtrex-panel for Windows: the Valtrex ultrasonic generator control panel in a native window.
// It reads nothing from its command line or environment: every action on the generator is the
// operator's.

#include <exception>

#include "app/Edge.h"
#include "app/win32/MainWindow.h"

int main() {
  app::win32::SetUpPanelApplication();
  try {
    app::win32::TMainWindow window;
    window.Show();
    window.Run();
  } catch (...) {
    // A failure while the window is built or torn down is shown like any other; then the
    // program ends.
    app::ReportAtEdge(std::current_exception());
  }
  app::win32::TearDownPanelApplication();
  // The window is gone, and with it the port. The operator has been told of every failure, so
  // the exit status says nothing more.
  return 0;
}
