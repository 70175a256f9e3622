#pragma once
// What the terminal program sets up around its window: the application's names and look, this
// thread as the one whose loop serves the port's deliveries, and the wake-up that has the loop
// serve them as soon as a worker queues one.

class QApplication;

namespace term {

// Call once, on the thread that runs the loop, after the application object exists.
void SetUpTermApplication(QApplication& application);
// Undoes the hooks, once no window and no port is left.
void TearDownTermApplication();

}  // namespace term
