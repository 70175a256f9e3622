#include "serial/extras/SettingsFile.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>

#include "serial/ComError.h"
#include "serial/extras/win32/SettingsFileApi.h"

namespace serial {
namespace {

// A scanner or an indexer that has the old file open refuses its replacement for a moment:
// the rename is tried again for about a second.
constexpr int kRenameAttempts = 10;
constexpr DWORD kRenamePauseMs = 100;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

[[noreturn]] void Fail(int32_t errorCode, DWORD error, const std::string& what) {
  RaiseComError(errorCode, static_cast<int32_t>(error), what);
}

class THandle {
 public:
  explicit THandle(HANDLE handle) : handle_(handle) {}
  ~THandle() {
    if (Valid()) CloseHandle(handle_);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  // Closes now, so that an error of the close itself is seen.
  bool Close() {
    const bool ok = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

// The file a name stands for: a link to a settings file is kept and its target replaced.
std::string ResolveLink(const std::string& fileName) {
  std::error_code error;
  if (!std::filesystem::is_symlink(fileName, error)) return fileName;
  const auto target = std::filesystem::canonical(fileName, error);
  return error ? fileName : target.string();
}

}  // namespace

TSettingsFileApi& SettingsFileApi() {
  static TSettingsFileApi api;
  return api;
}

std::optional<std::string> ReadSettingsFile(const std::string& fileName, int32_t errorCode) {
  THandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    Fail(errorCode, error, "cannot open " + fileName);
  }
  std::string contents;
  char chunk[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.Get(), chunk, sizeof chunk, &n, nullptr)) {
      Fail(errorCode, GetLastError(), "cannot read " + fileName);
    }
    if (n == 0) break;
    contents.append(chunk, n);
  }
  return contents;
}

void ReplaceSettingsFile(const std::string& fileName, std::string_view contents,
                         int32_t errorCode) {
  static std::atomic<unsigned> counter{0};
  const std::string target = ResolveLink(fileName);

  std::string temp;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temp = target + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
           ".tmp";
    created = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (created == INVALID_HANDLE_VALUE) {
    Fail(errorCode, GetLastError(), "cannot create a file beside " + target);
  }
  THandle file(created);
  const auto failAndRemove = [&](const std::string& what) {
    const DWORD error = GetLastError();
    if (file.Valid()) file.Close();
    DeleteFileA(temp.c_str());
    Fail(errorCode, error, what);
  };
  while (!contents.empty()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size(), 1u << 30));
    if (!WriteFile(file.Get(), contents.data(), chunk, &n, nullptr)) {
      failAndRemove("cannot write " + temp);
    }
    contents.remove_prefix(n);
  }
  if (!FlushFileBuffers(file.Get())) failAndRemove("cannot flush " + temp);
  if (!file.Close()) failAndRemove("cannot write " + temp);
  // The replacement is written through, so it is on the disk when the call returns: then
  // either the old file or the new one is there, whole.
  TSettingsFileApi& api = SettingsFileApi();
  for (int attempt = 1;; ++attempt) {
    if (api.MoveFileExA(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      break;
    }
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
        attempt == kRenameAttempts) {
      SetLastError(error);
      failAndRemove("cannot replace " + target);
    }
    api.Sleep(kRenamePauseMs);
  }
}

void CreateSettingsFolder(const std::string& folder, int32_t errorCode) {
  TSettingsFileApi& api = SettingsFileApi();
  // The drive and the root are there already, and so are the server and the share of a network
  // path (\\server\share\...), which no one can create.
  size_t start = 0;
  if (folder.size() > 2 && IsSeparator(folder[0]) && IsSeparator(folder[1])) {
    const size_t server = folder.find_first_of("\\/", 2);
    const size_t share =
        server == std::string::npos ? server : folder.find_first_of("\\/", server + 1);
    start = share == std::string::npos ? folder.size() : share;
  }
  for (size_t end = start + 1; end <= folder.size(); ++end) {
    if (end < folder.size() && !IsSeparator(folder[end])) continue;
    const std::string path = folder.substr(0, end);
    if (path.empty() || IsSeparator(path.back()) || path.back() == ':') continue;
    if (!api.CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      Fail(errorCode, GetLastError(), "cannot create folder " + path);
    }
  }
  const DWORD attributes = api.GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail(errorCode, GetLastError(), "cannot find folder " + folder);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail(errorCode, ERROR_DIRECTORY, folder + " is no folder");
  }
}

}  // namespace serial
