// A port's settings in the current user's registry and in INI files, on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serial/extras/ComSettingsStorage.h"
#include "serial/extras/SettingsFile.h"
#include "tests/serial/FakePort.h"
#include "tests/serial/extras/UnusualSettings.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace serial::test {
namespace {

namespace fs = std::filesystem;

// A key of this test run's own under HKEY_CURRENT_USER, gone again at the end.
class WindowsStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    UseComStorage();
    key_ = "Software\\ValtrexTest" + std::to_string(GetCurrentProcessId());
    dir_ = fs::temp_directory_path() / ("valtrex-storage-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    fs::remove_all(dir_);
  }
  static std::string ReadText(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
  }
  std::string key_;
  fs::path dir_;
};

TEST_F(WindowsStorage, EverySettingMakesTheRoundTripThroughTheRegistry) {
  TComPort stored;
  SetPortSettings(stored, UnusualSettings());
  stored.StoreRegistry("\\" + key_ + "\\Port");
  TComPort loaded;
  loaded.LoadRegistry(key_ + "\\Port");
  EXPECT_TRUE(GetPortSettings(loaded) == UnusualSettings());

  // The values are plain text under the key, for regedit and for other programs.
  char text[64] = {};
  DWORD size = sizeof text;
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, (key_ + "\\Port").c_str(), "BaudRate", RRF_RT_REG_SZ,
                         nullptr, text, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "Custom");
}

TEST_F(WindowsStorage, RegistryFailuresCarryTheSystemsError) {
  TComPort port;
  try {
    port.LoadRegistry(key_ + "\\None");
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), ecode::kRegistry);
    EXPECT_EQ(e.SystemErrorCode(), ERROR_FILE_NOT_FOUND);
  }
  try {
    port.StoreRegistry("\\\\");
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), ecode::kRegistry);
    EXPECT_EQ(e.SystemErrorCode(), ERROR_INVALID_PARAMETER);
  }
}

TEST_F(WindowsStorage, AnIniFileIsReplacedWholeAndLeavesNothingBeside) {
  const fs::path file = dir_ / "port.ini";
  std::ofstream(file) << "[Other]\nKept=1\n";
  TComPort stored;
  SetPortSettings(stored, UnusualSettings());
  stored.StoreIniFile(file.string(), "Port");
  TComPort loaded;
  loaded.LoadIniFile(file.string(), "Port");
  EXPECT_TRUE(GetPortSettings(loaded) == UnusualSettings());
  EXPECT_NE(ReadText(file).find("Kept=1"), std::string::npos);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u);

  try {
    stored.StoreIniFile((dir_ / "none" / "p.ini").string(), "Port");
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), ecode::kStoreSettings);
    EXPECT_EQ(e.SystemErrorCode(), ERROR_PATH_NOT_FOUND);
  }
}

TEST_F(WindowsStorage, FoldersAreMadeAsDeepAsNeeded) {
  const fs::path deep = dir_ / "a" / "b" / "c";
  CreateSettingsFolder(deep.string(), ecode::kStoreSettings);
  EXPECT_TRUE(fs::is_directory(deep));
  std::ofstream(dir_ / "file") << "x";
  try {
    CreateSettingsFolder((dir_ / "file").string(), ecode::kStoreSettings);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemErrorCode(), ERROR_DIRECTORY);
  }
}

}  // namespace
}  // namespace serial::test
