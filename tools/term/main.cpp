// valtrex-term: the service terminal. Its settings live in the per-user configuration folder.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "platform/Version.h"
#include "tools/term/TermApplication.h"
#include "tools/term/TermWindow.h"
#include "tools/term/WindowSettings.h"

int main(int argc, char** argv) {
  // Answered before the window system is reached, so that they work without a display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("valtrex-term %s\n", VALTREX_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "Usage: valtrex-term [Qt options]\n\n"
        "The Valtrex service terminal: a serial terminal (VT52, VT100, ANSI or plain lines)\n"
        "with a hex view and a packet view. Its settings are kept in the user's configuration\n"
        "folder.\n\n"
        "  --help      show this text\n  --version   show the terminal's version\n");
    return 0;
  }
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
