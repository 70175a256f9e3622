#pragma once
/// \file
/// Where a port's settings are stored and loaded from. The port's four storage operations hand
/// their work to one of these, so the file and registry formats stay out of the component's core
/// and a port is only ever linked with the storage its program installs.

#include <memory>
#include <string>
#include "../platform/Export.h"

namespace serial {

class TCustomComPort;

/// A settings format: the work behind the port's StoreRegistry, StoreIniFile, LoadRegistry and
/// LoadIniFile. TComSettingsStorage is the one the component ships.
class VALTREX_API TComStorage {
 public:
  virtual ~TComStorage() = default;

  /// Stores every setting of the port under the registry key.
  virtual void StoreRegistry(const TCustomComPort& port, const std::string& keyPath) const = 0;
  /// Stores every setting of the port in the section of the INI file.
  virtual void StoreIniFile(const TCustomComPort& port, const std::string& fileName,
                            const std::string& section) const = 0;
  /// Gives the port the settings stored under the registry key.
  virtual void LoadRegistry(TCustomComPort& port, const std::string& keyPath) const = 0;
  /// Gives the port the settings stored in the section of the INI file.
  virtual void LoadIniFile(TCustomComPort& port, const std::string& fileName,
                           const std::string& section) const = 0;
};

/// The storage of every port that has none of its own; none until a program installs one.
VALTREX_API void SetDefaultComStorage(std::shared_ptr<const TComStorage> storage);
/// The storage installed with SetDefaultComStorage; null while there is none.
VALTREX_API std::shared_ptr<const TComStorage> DefaultComStorage();

}  // namespace serial
