#include "platform/ReportUnhandled.h"

#include <cstdio>

#include "platform/win32/Windows.h"

namespace platform {

// A program started from a console reports there; a windowed one has no console and shows the
// message in a box instead.
void ReportUnhandled(const char* message) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "%s\n", message);
    std::fflush(stderr);
    return;
  }
  MessageBoxA(nullptr, message, "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace platform
