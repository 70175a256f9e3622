#pragma once
// The link that names a simulator's port, in the user's folder of virtual ports or where --link
// says. Simulators started at the same moment share the folder: a name is claimed and given back
// under a lock on the folder, so no two take the same name and none removes or replaces a link
// that still leads to another one's live pseudo-terminal.

#include <memory>
#include <string>

namespace sim {

class PortLink {
 public:
  // Makes the link path -> target. A link there already is replaced only while it leads to no
  // live pseudo-terminal (its simulator was killed); anything else there throws
  // std::runtime_error.
  static std::unique_ptr<PortLink> Claim(const std::string& path, const std::string& target);
  // The first name of valtrex-sim, valtrex-sim-2, ... valtrex-sim-99 in folder that is free or
  // stale. Throws std::runtime_error when none is.
  static std::unique_ptr<PortLink> ClaimFree(const std::string& folder, const std::string& target);

  // Removes the link, but only while it still leads to this simulator's port.
  ~PortLink();
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  const std::string& Path() const { return path_; }

 private:
  PortLink(std::string path, std::string target);

  std::string path_;
  std::string target_;
};

}  // namespace sim
