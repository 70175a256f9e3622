#include "serial/extras/ComSettingsStorage.h"

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "serial/ComError.h"
#include "serial/extras/ComStrings.h"
#include "serial/extras/IniDocument.h"
#include "serial/extras/PortSettings.h"
#include "serial/extras/Registry.h"
#include "serial/extras/SettingsFile.h"

namespace serial {
namespace {

std::string Where(const std::string& fileName, const std::string& section) {
  return "section [" + section + "] of " + fileName;
}

// The port's settings with the stored values over them; nothing is applied yet.
TComPortSettings ReadOver(const TCustomComPort& port, const TSettingValues& values,
                          int32_t errorCode, const std::string& where) {
  TComPortSettings settings = GetPortSettings(port);
  try {
    ValuesToPortSettings(values, settings);
  } catch (const EComConvert& e) {
    RaiseComError(errorCode, -1, std::string(e.what()) + " in " + where);
  }
  return settings;
}

}  // namespace

void TComSettingsStorage::StoreIniFile(const TCustomComPort& port, const std::string& fileName,
                                       const std::string& section) const {
  const auto text = ReadSettingsFile(fileName, ecode::kStoreSettings);
  TIniDocument document(text.value_or(""));
  try {
    for (const auto& [key, value] : PortSettingsToValues(GetPortSettings(port))) {
      document.WriteString(section, key, value);
    }
  } catch (const std::invalid_argument& e) {
    RaiseComError(ecode::kStoreSettings, EINVAL, std::string(e.what()) + " in " + fileName);
  }
  ReplaceSettingsFile(fileName, document.Text(), ecode::kStoreSettings);
}

void TComSettingsStorage::LoadIniFile(TCustomComPort& port, const std::string& fileName,
                                      const std::string& section) const {
  const auto text = ReadSettingsFile(fileName, ecode::kLoadSettings);
  if (!text) RaiseComError(ecode::kLoadSettings, ENOENT, "no file " + fileName);
  const TIniDocument document(*text);
  if (!document.HasSection(section)) {
    RaiseComError(ecode::kLoadSettings, -1, "no " + Where(fileName, section));
  }
  SetPortSettings(port, ReadOver(port, document.ReadSection(section), ecode::kLoadSettings,
                                 Where(fileName, section)));
}

void TComSettingsStorage::StoreRegistry(const TCustomComPort& port,
                                        const std::string& keyPath) const {
  StoreRegistryValues(keyPath, PortSettingsToValues(GetPortSettings(port)));
}

void TComSettingsStorage::LoadRegistry(TCustomComPort& port, const std::string& keyPath) const {
  SetPortSettings(port,
                  ReadOver(port, LoadRegistryValues(keyPath), ecode::kRegistry, "key " + keyPath));
}

void UseComStorage() {
  SetDefaultComStorage(std::make_shared<TComSettingsStorage>());
}

}  // namespace serial
