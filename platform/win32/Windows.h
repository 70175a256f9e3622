#pragma once
// The system's header as the platform realisation takes it: after the project's own headers, and
// without the macros that would rename the message loop's functions (SendMessage, DefWindowProc)
// or the standard library's (min, max).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef SendMessage
#undef DefWindowProc

namespace platform::win32 {

inline HANDLE EventHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace platform::win32
