#pragma once
// Where the application's default exception handler puts a message: the system's own way of
// telling the user when nobody has installed a handler.

namespace platform {

void ReportUnhandled(const char* message);

}  // namespace platform
