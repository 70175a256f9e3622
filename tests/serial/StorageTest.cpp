// The port's storage operations go to its own storage, else to the default, else fail.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "FakePort.h"
#include "serial/ComStorage.h"

namespace serial::test {
namespace {

struct RecordingStorage : TComStorage {
  void StoreRegistry(const TCustomComPort&, const std::string& key) const override {
    calls.push_back("StoreRegistry " + key);
  }
  void StoreIniFile(const TCustomComPort&, const std::string& file,
                    const std::string& section) const override {
    calls.push_back("StoreIniFile " + file + " " + section);
  }
  void LoadRegistry(TCustomComPort&, const std::string& key) const override {
    calls.push_back("LoadRegistry " + key);
  }
  void LoadIniFile(TCustomComPort&, const std::string& file,
                   const std::string& section) const override {
    calls.push_back("LoadIniFile " + file + " " + section);
  }
  mutable std::vector<std::string> calls;
};

void UseAll(TCustomComPort& port) {
  port.StoreRegistry("K");
  port.StoreIniFile("f.ini", "S");
  port.LoadRegistry("K");
  port.LoadIniFile("f.ini", "S");
}

TEST(Storage, PortsOwnStorageComesBeforeTheDefaultAndNoneFails) {
  const std::vector<std::string> all = {"StoreRegistry K", "StoreIniFile f.ini S", "LoadRegistry K",
                                        "LoadIniFile f.ini S"};
  auto fallback = std::make_shared<RecordingStorage>();
  auto own = std::make_shared<RecordingStorage>();
  SetDefaultComStorage(fallback);
  TComPort port;
  UseAll(port);
  port.SetStorage(own);
  UseAll(port);
  EXPECT_EQ(fallback->calls, all);
  EXPECT_EQ(own->calls, all);

  SetDefaultComStorage(nullptr);
  TComPort bare;
  const EComPort store = Raised([&] { bare.StoreIniFile("f.ini", "S"); });
  EXPECT_EQ(store.SystemErrorCode(), ENOSYS);
  EXPECT_EQ(store.Message(), WithSystemError("Failed to store settings", ENOSYS) +
                                 ": no settings storage is installed");
  EXPECT_EQ(Raised([&] { bare.StoreRegistry("K"); }).ErrorCode(), ecode::kStoreSettings);
  EXPECT_EQ(Raised([&] { bare.LoadIniFile("f.ini", "S"); }).ErrorCode(), ecode::kLoadSettings);
  EXPECT_EQ(Raised([&] { bare.LoadRegistry("K"); }).ErrorCode(), ecode::kLoadSettings);
}

}  // namespace
}  // namespace serial::test
