// The current user's registry: a key under HKEY_CURRENT_USER, its values text (REG_SZ).
#include "serial/extras/Registry.h"

#include <string>

#include "serial/ComError.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace serial {
namespace {

// A leading or doubled separator names nothing; the system takes only single backslashes.
std::string KeyName(const std::string& keyPath) {
  std::string name;
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t end = keyPath.find_first_of("\\/", start);
    if (end == std::string::npos) end = keyPath.size();
    const std::string part = keyPath.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (!name.empty()) name += '\\';
    name += part;
  }
  if (name.empty()) RaiseComError(ecode::kRegistry, ERROR_INVALID_PARAMETER, "key path is empty");
  return name;
}

class TKey {
 public:
  TKey() = default;
  ~TKey() {
    if (key_) RegCloseKey(key_);
  }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

[[noreturn]] void Fail(LSTATUS status, const std::string& what) {
  RaiseComError(ecode::kRegistry, static_cast<int32_t>(status), what);
}

}  // namespace

void StoreRegistryValues(const std::string& keyPath, const TSettingValues& values) {
  const std::string name = KeyName(keyPath);
  TKey key;
  LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) Fail(status, "cannot create key " + name);
  for (const auto& [valueName, value] : values) {
    status = RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    if (status != ERROR_SUCCESS) Fail(status, "cannot write " + valueName + " under " + name);
  }
}

TSettingValues LoadRegistryValues(const std::string& keyPath) {
  const std::string name = KeyName(keyPath);
  TKey key;
  LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, KEY_QUERY_VALUE, key.Out());
  if (status != ERROR_SUCCESS) Fail(status, "no key " + name);
  DWORD count = 0, longestName = 0, longestData = 0;
  status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            &count, &longestName, &longestData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) Fail(status, "cannot read key " + name);
  TSettingValues values;
  std::string valueName(longestName + 1, '\0');
  std::string data(longestData + 1, '\0');
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameSize = static_cast<DWORD>(valueName.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    status = RegEnumValueA(key.Get(), i, valueName.data(), &nameSize, nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &dataSize);
    if (status != ERROR_SUCCESS) Fail(status, "cannot read the values of " + name);
    // Only text values are settings; a number or a blob someone else put there is not ours.
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    std::string text(data.data(), dataSize);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    values.emplace_back(std::string(valueName.data(), nameSize), std::move(text));
  }
  return values;
}

}  // namespace serial
