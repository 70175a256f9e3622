// valtrex-term: the service terminal. Its settings live in the per-user configuration folder.

#include <QApplication>

#include "tools/term/TermApplication.h"
#include "tools/term/TermWindow.h"
#include "tools/term/WindowSettings.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  term::SetUpTermApplication(application);
  int status = 0;
  {
    term::TTermWindow window(term::SettingsFilePath());
    window.show();
    status = QApplication::exec();
  }
  term::TearDownTermApplication();
  return status;
}
