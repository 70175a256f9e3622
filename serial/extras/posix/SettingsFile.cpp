#include "serial/extras/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "serial/ComError.h"

namespace serial {
namespace {

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }
  // Closes now, so that an error of the close itself is seen.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

[[noreturn]] void Fail(int32_t errorCode, int error, const std::string& what) {
  RaiseComError(errorCode, error, what);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The file a name stands for: a link to a settings file is kept and its target replaced.
std::string ResolveLink(const std::string& fileName) {
  struct stat info {};
  if (::lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return fileName;
  char resolved[PATH_MAX];
  if (::realpath(fileName.c_str(), resolved) == nullptr) return fileName;
  return resolved;
}

std::string FolderOf(const std::string& fileName) {
  const std::string folder = std::filesystem::path(fileName).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

std::optional<std::string> ReadSettingsFile(const std::string& fileName, int32_t errorCode) {
  TFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail(errorCode, errno, "cannot open " + fileName);
  }
  std::string contents;
  char chunk[4096];
  while (true) {
    const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errorCode, errno, "cannot read " + fileName);
    }
    if (n == 0) break;
    contents.append(chunk, static_cast<size_t>(n));
  }
  return contents;
}

void ReplaceSettingsFile(const std::string& fileName, std::string_view contents,
                         int32_t errorCode) {
  static std::atomic<unsigned> counter{0};
  const std::string target = ResolveLink(fileName);

  // The new file takes the old one's permissions; a first one gets what the umask allows.
  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;

  std::string temp;
  int created = -1;
  for (int attempt = 0; attempt < 100 && created < 0; ++attempt) {
    temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    created = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (created < 0 && errno != EEXIST) break;
  }
  if (created < 0) Fail(errorCode, errno, "cannot create a file beside " + target);
  TFd fd(created);

  auto failAndRemove = [&](const std::string& what) {
    const int error = errno;
    ::unlink(temp.c_str());
    Fail(errorCode, error, what);
  };
  if (replacing && ::fchmod(fd.Get(), old.st_mode & 07777) != 0) {
    failAndRemove("cannot set the permissions of " + temp);
  }
  if (!WriteAll(fd.Get(), contents)) failAndRemove("cannot write " + temp);
  if (::fsync(fd.Get()) != 0) failAndRemove("cannot flush " + temp);
  if (fd.Close() != 0) failAndRemove("cannot write " + temp);
  if (::rename(temp.c_str(), target.c_str()) != 0) failAndRemove("cannot replace " + target);

  // The rename itself is on the disk only once the folder is.
  TFd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0 || ::fsync(folder.Get()) != 0) {
    Fail(errorCode, errno, "cannot flush the folder of " + target);
  }
}

void CreateSettingsFolder(const std::string& folder, int32_t errorCode) {
  std::string path;
  for (const auto& part : std::filesystem::path(folder)) {
    path = (std::filesystem::path(path) / part).string();
    if (part == "/" || part.empty()) continue;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      Fail(errorCode, errno, "cannot create folder " + path);
    }
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) Fail(errorCode, errno, "cannot find folder " + folder);
  if (!S_ISDIR(info.st_mode)) Fail(errorCode, ENOTDIR, folder + " is no folder");
}

}  // namespace serial
