#pragma once
/// \file
/// What the component's shared libraries show to programs that use them. They are built with
/// every symbol hidden; the classes and functions of the installed headers are marked with
/// VALTREX_API, so the library's interface is what the headers say and nothing that happens to be
/// defined alongside. A static library, or a Windows build (always static), needs no mark.

/// \def VALTREX_API
/// Marks a class or function of the installed headers as part of the shared library's interface.
#if defined(__GNUC__) && !defined(_WIN32)
#define VALTREX_API __attribute__((visibility("default")))
#else
#define VALTREX_API
#endif

/// The same mark on what the component's own libraries share among themselves (the platform's
/// thread under the port's event thread, say): visible to them, in no installed header.
#define VALTREX_INTERNAL VALTREX_API
