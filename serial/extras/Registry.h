#pragma once
// The current user's registry as the settings storage sees it: one key, named by its path from
// the user's root ("Software\\Valtrex\\Port"), holding named text values. Failures raise
// EComPort "Registry error" with the system's error value.

#include <string>

#include "serial/extras/IniDocument.h"

namespace serial {

// Writes the values under the key, creating it and the keys above it as needed; the key's other
// values stay.
void StoreRegistryValues(const std::string& keyPath, const TSettingValues& values);
// Every value under the key; raises when there is no such key.
TSettingValues LoadRegistryValues(const std::string& keyPath);

}  // namespace serial
