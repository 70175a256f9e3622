#pragma once
// Where a port's settings are stored and loaded from. The port's four storage operations hand
// their work to one of these, so the file and registry formats stay out of the component's core
// and a port is only ever linked with the storage its program installs.

#include <memory>
#include <string>
#include "../platform/Export.h"

namespace serial {

class TCustomComPort;

class VALTREX_API TComStorage {
 public:
  virtual ~TComStorage() = default;

  virtual void StoreRegistry(const TCustomComPort& port, const std::string& keyPath) const = 0;
  virtual void StoreIniFile(const TCustomComPort& port, const std::string& fileName,
                            const std::string& section) const = 0;
  virtual void LoadRegistry(TCustomComPort& port, const std::string& keyPath) const = 0;
  virtual void LoadIniFile(TCustomComPort& port, const std::string& fileName,
                           const std::string& section) const = 0;
};

// The storage of every port that has none of its own; none until a program installs one.
VALTREX_API void SetDefaultComStorage(std::shared_ptr<const TComStorage> storage);
VALTREX_API std::shared_ptr<const TComStorage> DefaultComStorage();

}  // namespace serial
