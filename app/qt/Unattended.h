#pragma once
// Unattended runs: the screenshot script and the tests start the real program against the
// simulator without anybody at the keyboard. The operator never sees these; they are switched
// on only by environment variables, the program itself takes nothing from its command line.
//
//   VALTREX_PANEL_AUTOCONNECT=PATH  type PATH into the port box and press Connect at start;
//                                   only a pseudo-terminal is accepted.
//   VALTREX_PANEL_SNAPSHOT=FILE     once the start-up pass has been shown, press Start; a few
//                                   rounds of telemetry later write the window as it is on
//                                   screen to FILE (PNG), print one line with the window's size
//                                   and place, and close.

#include <QString>
#include <string>

namespace app {

class TMainWindow;

// True when `path` names a pseudo-terminal (following links).
bool IsPseudoTerminal(const QString& path);

// Types `path` into the port box and presses Connect, as the operator would. Refuses (false)
// anything that is not a pseudo-terminal, so that an unattended run never reaches a real line.
bool ConnectUnattended(TMainWindow& window, const QString& path);

// Presses Start once the start-up pass has been shown and writes the window to `file` a few
// rounds of the loop later, or after `deadlineMs` whatever it shows; then closes the window.
void SnapshotWhenLive(TMainWindow& window, const QString& file, int deadlineMs = 30000);

// Applies the two variables above to a window that has just been shown.
void ApplyUnattendedEnvironment(TMainWindow& window);

}  // namespace app
