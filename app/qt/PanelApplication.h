#pragma once
// The application-wide look and the error box. The window's layout was drawn in pixels for one
// font, so the font and the style are fixed here rather than taken from the desktop.

#include <QFont>
#include <QString>
#include <exception>

class QApplication;

namespace app {

// A sans face with 13-pixel text lines, narrowed so that every caption fits the place the
// layout gives it.
QFont PanelFont();

// Style, palette and font for the whole application; the error box as the application's
// exception handler; this thread as the main thread, whose loop serves the calls that the
// port's worker hands over. Call once, on the thread that runs the loop, after the application
// object exists.
void SetUpPanelApplication(QApplication& application);

// Undoes the hooks of SetUpPanelApplication, once no window and no port is left.
void TearDownPanelApplication();

// The text the error box shows: the exception's message.
QString ExceptionMessage(std::exception_ptr error);

// The standard error box, modal over the active window.
void ShowErrorBox(std::exception_ptr error);

}  // namespace app
