#pragma once
// Telling a pseudo-terminal's port side from every other device, for the programs that must
// never act on a real line: the simulator's links and the test drivers.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace tools {

// Linux's pseudo-terminal slaves: majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR and up).
inline bool IsPtySlave(const struct stat& st) {
  const unsigned major = ::major(st.st_rdev);
  return S_ISCHR(st.st_mode) && major >= 136 && major <= 143;
}

// The path a name leads to after its links, or "" where it leads nowhere.
inline std::string ResolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// Whether the path leads, after its links, to a live slave under /dev/pts. Only looked at.
inline bool IsLivePtySlave(const std::string& path) {
  const std::string target = ResolvedPath(path);
  struct stat st {};
  return target.rfind("/dev/pts/", 0) == 0 && ::stat(target.c_str(), &st) == 0 && IsPtySlave(st);
}

}  // namespace tools
