// There is no registry here: a key is a file of its own in the user's configuration folder
// ($XDG_CONFIG_HOME, or ~/.config), at the key's path with each "\" a folder and ".ini" added
// ("Software\\Valtrex\\Port" is <config>/Software/Valtrex/Port.ini), its values as plain
// key=value lines.
#include "serial/extras/Registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "serial/ComError.h"
#include "serial/extras/SettingsFile.h"

namespace serial {
namespace {

std::filesystem::path ConfigFolder() {
  // A relative value is to be ignored, as if it were not set.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::filesystem::path(home) / ".config";
  if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
    return std::filesystem::path(user->pw_dir) / ".config";
  }
  RaiseComError(ecode::kRegistry, ENOENT, "no home folder to keep the registry in");
}

std::filesystem::path KeyFile(const std::string& keyPath) {
  std::filesystem::path file = ConfigFolder();
  size_t names = 0;
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t end = keyPath.find_first_of("\\/", start);
    if (end == std::string::npos) end = keyPath.size();
    const std::string name = keyPath.substr(start, end - start);
    start = end + 1;
    // A leading or doubled separator names nothing; "." and ".." would leave the folder.
    if (name.empty()) continue;
    if (name == "." || name == "..") {
      RaiseComError(ecode::kRegistry, EINVAL, "key path \"" + keyPath + "\" is invalid");
    }
    file /= name;
    ++names;
  }
  if (names == 0) RaiseComError(ecode::kRegistry, EINVAL, "key path is empty");
  file += ".ini";
  return file;
}

}  // namespace

void StoreRegistryValues(const std::string& keyPath, const TSettingValues& values) {
  const std::filesystem::path file = KeyFile(keyPath);
  CreateSettingsFolder(file.parent_path().string(), ecode::kRegistry);
  const auto text = ReadSettingsFile(file.string(), ecode::kRegistry);
  TIniDocument document(text.value_or(""));
  for (const auto& [name, value] : values) {
    try {
      document.WriteString("", name, value);
    } catch (const std::invalid_argument& e) {
      RaiseComError(ecode::kRegistry, EINVAL, e.what());
    }
  }
  ReplaceSettingsFile(file.string(), document.Text(), ecode::kRegistry);
}

TSettingValues LoadRegistryValues(const std::string& keyPath) {
  const std::filesystem::path file = KeyFile(keyPath);
  const auto text = ReadSettingsFile(file.string(), ecode::kRegistry);
  if (!text) RaiseComError(ecode::kRegistry, ENOENT, "no key " + keyPath);
  return TIniDocument(*text).ReadSection("");
}

}  // namespace serial
