#pragma once
// What the test drivers of the panel and the terminal share. They act on a line without an
// operator, so they run only against a pseudo-terminal, and they photograph their window.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cerrno>
#include <optional>
#include <string>

#include "platform/ComDevice.h"
#include "platform/posix/DeviceName.h"
#include "tools/PseudoTerminal.h"

namespace tools {

// The one device a driver may open.
struct TPseudoTerminal {
  std::string path;  // under /dev/pts, its links followed
  dev_t device = 0;
};

// The pseudo-terminal a port name leads to, found the way the port maps names ("COMn" to an
// on-board port, a bare name under /dev, a path as it stands), or nothing where the name leads
// to anything else. The device is only looked at.
inline std::optional<TPseudoTerminal> MappedPseudoTerminal(const std::string& portName) {
  if (portName.empty() || portName.find('\0') != std::string::npos) return std::nullopt;
  const std::string mapped = platform::posix::DevicePath(portName);
  if (!IsLivePtySlave(mapped)) return std::nullopt;
  TPseudoTerminal pty;
  pty.path = ResolvedPath(mapped);
  struct stat st {};
  if (pty.path.empty() || ::stat(pty.path.c_str(), &st) != 0 || !IsPtySlave(st)) {
    return std::nullopt;
  }
  pty.device = st.st_rdev;
  return pty;
}

// Gives a port that pseudo-terminal and nothing else, whatever name the port asks for. The
// descriptor is looked at again once open, before the port touches the line: the name may lead
// elsewhere by then.
inline platform::ComDeviceOpener PseudoTerminalOpener(TPseudoTerminal pty) {
  return [pty](const std::string&, int& error) -> std::unique_ptr<platform::ComDevice> {
    const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !IsPtySlave(st) || st.st_rdev != pty.device) {
      ::close(fd);
      error = EPERM;
      return nullptr;
    }
    return platform::posix::AdoptComDevice(fd, error);
  };
}

// The window as the screen shows it, or as it paints itself where the screen cannot be read.
inline QPixmap GrabWindow(QWidget& window) {
  QPixmap shot;
  if (QScreen* screen = window.screen()) shot = screen->grabWindow(window.winId());
  if (shot.isNull()) shot = window.grab();
  return shot;
}

}  // namespace tools
