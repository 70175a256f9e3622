#pragma once
// What the terminal window's files share: the local text of a component's message or a name.
// Internal to the window.

#include <QString>
#include <string>

namespace term {

inline QString Text(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace term
