#pragma once
// The terminal control as assistive technology sees it: a terminal whose text is the screen's
// lines, with the cursor in it. Internal to the widgets library.

namespace widgets {

class TComTerminal;

// Makes the interface the one the toolkit gives for every terminal control; once is enough.
void InstallTerminalAccessible();
// Tells a listening screen reader that the screen's text or cursor changed, if either did since
// it was last told. Cheap when nobody listens.
void NotifyTerminalChanged(TComTerminal& terminal);

}  // namespace widgets
