#pragma once
// What the test drivers of the panel and the terminal share. They act on a line without an
// operator, so they run only against a pseudo-terminal, and they photograph their window.

#include <QFileInfo>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <string>

namespace tools {

// Whether the path (after its links) is a pseudo-terminal slave; nothing is opened to tell.
inline bool IsPseudoTerminal(const std::string& path) {
  const QString target = QFileInfo(QString::fromLocal8Bit(path.c_str())).canonicalFilePath();
  return target.startsWith(QStringLiteral("/dev/pts/"));
}

// The window as the screen shows it, or as it paints itself where the screen cannot be read.
inline QPixmap GrabWindow(QWidget& window) {
  QPixmap shot;
  if (QScreen* screen = window.screen()) shot = screen->grabWindow(window.winId());
  if (shot.isNull()) shot = window.grab();
  return shot;
}

}  // namespace tools
