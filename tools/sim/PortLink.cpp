#include "tools/sim/PortLink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tools/PseudoTerminal.h"
#include "tools/sim/LineLoop.h"

namespace sim {
namespace {

std::runtime_error Failure(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// Holds the folder's lock for as long as it lives. A lock on the folder itself leaves no file
// behind, and the system drops it when a simulator is killed holding it.
class FolderLock {
 public:
  explicit FolderLock(const std::string& linkPath) {
    std::string folder = std::filesystem::path(linkPath).parent_path().string();
    if (folder.empty()) folder = ".";
    fd_.Reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_) throw Failure("cannot open folder " + folder);
    while (flock(fd_.Get(), LOCK_EX) != 0) {
      if (errno != EINTR) throw Failure("cannot lock folder " + folder);
    }
  }

 private:
  UniqueFd fd_;
};

enum class Name { kTaken, kMade };

// Makes the link unless the name is taken; the folder's lock is held.
Name TryClaim(const std::string& path, const std::string& target) {
  if (symlink(target.c_str(), path.c_str()) == 0) return Name::kMade;
  if (errno != EEXIST) throw Failure("cannot make link " + path);
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) throw Failure("cannot look at " + path);
  // A link whose pseudo-terminal has gone was left by a simulator that could not remove it.
  if (!S_ISLNK(st.st_mode) || tools::IsLivePtySlave(path)) return Name::kTaken;
  if (unlink(path.c_str()) != 0 || symlink(target.c_str(), path.c_str()) != 0) {
    throw Failure("cannot replace link " + path);
  }
  return Name::kMade;
}

}  // namespace

PortLink::PortLink(std::string path, std::string target)
    : path_(std::move(path)), target_(std::move(target)) {}

std::unique_ptr<PortLink> PortLink::Claim(const std::string& path, const std::string& target) {
  FolderLock lock(path);
  if (TryClaim(path, target) != Name::kMade) {
    throw std::runtime_error(path + " exists and is not a stale link");
  }
  return std::unique_ptr<PortLink>(new PortLink(path, target));
}

std::unique_ptr<PortLink> PortLink::ClaimFree(const std::string& folder,
                                              const std::string& target) {
  const std::string first = folder + "/valtrex-sim";
  FolderLock lock(first);
  for (int n = 1; n <= 99; ++n) {
    const std::string path = n == 1 ? first : first + "-" + std::to_string(n);
    if (TryClaim(path, target) == Name::kMade) {
      return std::unique_ptr<PortLink>(new PortLink(path, target));
    }
  }
  throw std::runtime_error("no free link name in " + folder);
}

PortLink::~PortLink() {
  try {
    FolderLock lock(path_);
    char buf[256];
    const ssize_t n = readlink(path_.c_str(), buf, sizeof buf);
    if (n >= 0 && target_ == std::string(buf, static_cast<std::size_t>(n))) unlink(path_.c_str());
  } catch (const std::exception&) {
    // The folder went away with the link in it: nothing is left to remove.
  }
}

}  // namespace sim
