#pragma once
/// \file
/// The port's settings storage: a section of an INI file, or a key of the current user's
/// registry, with one key per setting in its text form.
///
/// Storing keeps whatever else the file or key holds and replaces the file whole, never
/// half-written. Loading reads every value first and applies them together only when all of them
/// read, so that one bad value changes nothing and is named in the error; a key not in the file
/// keeps its setting.
///
/// INI files fail with "Failed to store settings" / "Failed to load settings", the registry with
/// "Registry error"; either with the system's error value where there is one. A missing file,
/// section or registry key is a failure to load, not an empty set of settings.

#include <string>

#include "../ComPort.h"
#include "../ComStorage.h"
#include "../../platform/Export.h"

namespace serial {

/// The component's settings storage: INI files and the current user's registry, one key per
/// setting in its text form (PortSettingsToValues).
class VALTREX_API TComSettingsStorage final : public TComStorage {
 public:
  /// Writes every setting under the registry key, creating it and the keys above it as needed.
  void StoreRegistry(const TCustomComPort& port, const std::string& keyPath) const override;
  /// Writes every setting into the section, adding it where missing, and replaces the file.
  void StoreIniFile(const TCustomComPort& port, const std::string& fileName,
                    const std::string& section) const override;
  /// Reads the key's values and gives them to the port as a whole.
  void LoadRegistry(TCustomComPort& port, const std::string& keyPath) const override;
  /// Reads the section's values and gives them to the port as a whole.
  void LoadIniFile(TCustomComPort& port, const std::string& fileName,
                   const std::string& section) const override;
};

/// Makes TComSettingsStorage the storage of every port that has none of its own.
VALTREX_API void UseComStorage();

}  // namespace serial
