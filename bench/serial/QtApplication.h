#pragma once
// The one application object the Qt rows share.

#include <QCoreApplication>

namespace bench {

// Qt wants an application object on the thread that runs its loops: this one, made on first use.
inline void EnsureApplication() {
  static int argc = 1;
  static char name[] = "serial_bench";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
}

}  // namespace bench
