// Storing and loading a port's settings in INI files and the per-user registry.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "UnusualSettings.h"
#include "serial/extras/ComSettingsStorage.h"
#include "serial/extras/SettingsFile.h"
#include "tests/serial/FakePort.h"

namespace serial::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

void WriteFile(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder per test, which is also the user's configuration folder.
class Storage : public ::testing::Test {
 protected:
  void SetUp() override {
    UseComStorage();
    std::string pattern = (fs::temp_directory_path() / "valtrex-storage-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = dir_ / "port.ini";
    for (auto& [name, value] : saved_) {
      if (const char* old = std::getenv(name)) value = old;
    }
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    fs::remove_all(dir_);
  }
  fs::path dir_;
  fs::path file_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_ = {{"XDG_CONFIG_HOME", {}},
                                                                            {"HOME", {}}};
};

// A section is found ignoring case and blanks around its name, however it was written.
TEST_F(Storage, IniFileKeepsEverySettingAndLeavesNoTemporaryFile) {
  TComPort stored;
  SetPortSettings(stored, UnusualSettings());
  stored.StoreIniFile(file_.string(), " Generator ");
  stored.StoreIniFile(file_.string(), " Generator ");
  for (const char* section : {"generator", " Generator"}) {
    TComPort loaded;
    loaded.LoadIniFile(file_.string(), section);
    EXPECT_TRUE(GetPortSettings(loaded) == UnusualSettings()) << section;
  }
  const std::string text = ReadFile(file_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '['), 1) << text;
  EXPECT_EQ(text.rfind("[Generator]\n", 0), 0u) << text;
  EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"port.ini"});
}

TEST_F(Storage, HandWrittenFileReadsInAnyCaseAndMissingKeysKeepTheirSetting) {
  WriteFile(file_, "[Port]\nbaudrate = custom\nCUSTOMBAUDRATE=31250\nevents=rxchar, RING\n");
  TComPort port;
  port.SetDataBits(dbSix);
  port.LoadIniFile(file_.string(), "PORT");
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 31250);
  EXPECT_EQ(port.Events, (TComEvents{evRxChar, evRing}));
  EXPECT_EQ(port.DataBits(), dbSix);
}

TEST_F(Storage, OneBadValueChangesNothingAndIsNamed) {
  WriteFile(file_, "[Port]\nBaudRate=115200\nStopBits=3\nParity=Odd\n");
  TComPort port;
  const EComPort e = Raised([&] { port.LoadIniFile(file_.string(), "Port"); });
  EXPECT_EQ(e.ErrorCode(), ecode::kLoadSettings);
  EXPECT_EQ(e.Message().rfind("Failed to load settings: StopBits: \"3\"", 0), 0u) << e.Message();
  EXPECT_TRUE(GetPortSettings(port) == TComPortSettings{});
}

TEST_F(Storage, StoringKeepsOtherSectionsUnknownKeysAndPermissions) {
  const std::string other = "; kept\n[Other]\nBaudRate=300\n\n[Port]\nMine=1\nBaudRate=57600\n";
  WriteFile(file_, "; kept\n[Other]\nBaudRate=300\n\n[Port]\nMine=1\nBaudRate=110\n");
  const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(file_, perms);
  TComPort port;
  port.SetBaudRate(br57600);
  port.StoreIniFile(file_.string(), "Port");
  EXPECT_EQ(ReadFile(file_).rfind(other, 0), 0u) << ReadFile(file_);
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all, perms);
}

TEST_F(Storage, StoreThatCannotWriteRaisesAndLeavesNoTemporaryFile) {
  struct Case {
    const char* name;
    std::function<void()> store;
    int error;
  };
  const fs::path taken = dir_ / "taken.ini";
  fs::create_directory(taken);
  for (const auto& c : {
           Case{"missing folder",
                [&] { TComPort().StoreIniFile((dir_ / "none" / "p.ini").string(), "P"); }, ENOENT},
           Case{"a folder in the way", [&] { TComPort().StoreIniFile(taken.string(), "P"); },
                EISDIR},
           // Past the read, so the new file is written and its rename is what fails.
           Case{"rename refused",
                [&] { ReplaceSettingsFile(taken.string(), "x", ecode::kStoreSettings); }, EISDIR},
       }) {
    const EComPort e = Raised(c.store);
    EXPECT_EQ(e.ErrorCode(), ecode::kStoreSettings) << c.name;
    EXPECT_EQ(e.SystemErrorCode(), c.error) << c.name;
    EXPECT_NE(e.Message().find(dir_.string()), std::string::npos) << e.Message();
    EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"taken.ini"}) << c.name;
  }
}

// A write that fails half-way, here past a file size limit, must leave the old file as it was:
// the new contents go to a file of their own until they are whole.
TEST_F(Storage, StoreCutShortLeavesTheOldFileWhole) {
  const std::string old = "; " + std::string(8000, 'o') + "\n[Port]\nBaudRate=110\n";
  WriteFile(file_, old);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limit = saved;
  limit.rlim_cur = 4096;
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  const int limited = ::setrlimit(RLIMIT_FSIZE, &limit);
  int error = 0;
  try {
    TComPort().StoreIniFile(file_.string(), "Port");
  } catch (const EComPort& e) {
    error = e.SystemErrorCode();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, handler);
  ASSERT_EQ(limited, 0);
  EXPECT_EQ(error, EFBIG);
  const std::string kept = ReadFile(file_);
  EXPECT_EQ(kept.size(), old.size());
  EXPECT_TRUE(kept == old);
  EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"port.ini"});
}

TEST_F(Storage, LoadingWhatIsNotThereRaises) {
  WriteFile(file_, "[Port]\nBaudRate=110\n");
  fs::create_directory(dir_ / "folder.ini");
  struct Case {
    fs::path file;
    const char* section;
    int error;
  };
  for (const auto& c : {Case{dir_ / "none.ini", "Port", ENOENT}, Case{file_, "Other", -1},
                        Case{dir_ / "folder.ini", "Port", EISDIR}}) {
    const EComPort e = Raised([&] { TComPort().LoadIniFile(c.file.string(), c.section); });
    EXPECT_EQ(e.ErrorCode(), ecode::kLoadSettings) << c.file;
    EXPECT_EQ(e.SystemErrorCode(), c.error) << c.file;
  }
}

TEST_F(Storage, LoadingOntoAnOpenPortConfiguresItOnce) {
  WriteFile(file_, "[Port]\nBaudRate=115200\nParity=Odd\nReadInterval=5\nInputSize=2048\n");
  FakePort f;
  f.OpenQuietly();
  f.port.LoadIniFile(file_.string(), "Port");
  EXPECT_EQ(f.line->CallNames(),
            (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(f.line->Calls()[1], "SetCommState(115200,0x1,8,1,0)");
  EXPECT_EQ(f.line->LastDCB()->XonLim, 512);
  EXPECT_EQ(f.line->LastTimeouts()->ReadIntervalTimeout, 5u);
}

TEST_F(Storage, LoadingRefusedByAnOpenPortChangesNothing) {
  WriteFile(file_, "[Port]\nBaudRate=115200\nSyncMethod=Window\n");
  FakePort f;
  f.OpenQuietly();
  const EComPort e = Raised([&] { f.port.LoadIniFile(file_.string(), "Port"); });
  EXPECT_EQ(e.Message(), "Cannot set property while connected: SyncMethod");
  EXPECT_EQ(f.port.BaudRate(), br9600);
  EXPECT_TRUE(f.line->Calls().empty());
}

TEST_F(Storage, NewNameReopensTheOpenPortWithTheLoadedSettings) {
  WriteFile(file_, "[Port]\nPort=COM2\nBaudRate=38400\n");
  FakePort f;
  f.line->AddName("COM2");
  f.OpenQuietly();
  f.port.LoadIniFile(file_.string(), "Port");
  EXPECT_TRUE(f.port.Connected());
  EXPECT_EQ(f.line->OpenName(), "COM2");
  EXPECT_EQ(f.line->LastDCB()->BaudRate, 38400u);
}

// There is no registry on this system: a key is a file under the user's configuration folder.
TEST_F(Storage, RegistryKeyKeepsEverySettingInAFileUnderTheConfigurationFolder) {
  TComPort stored;
  SetPortSettings(stored, UnusualSettings());
  stored.StoreRegistry("\\Software\\Valtrex\\Port");
  TComPort loaded;
  loaded.LoadRegistry("Software\\Valtrex\\Port");
  EXPECT_TRUE(GetPortSettings(loaded) == UnusualSettings());
  EXPECT_NE(ReadFile(dir_ / "config/Software/Valtrex/Port.ini").find("BaudRate=Custom\n"),
            std::string::npos);
  EXPECT_EQ(fs::status(dir_ / "config/Software").permissions() & fs::perms::all,
            fs::perms::owner_all);

  // Without the variable, or with a relative one, the folder is ~/.config.
  ::setenv("HOME", (dir_ / "home").c_str(), 1);
  for (const char* config : {static_cast<const char*>(nullptr), "rel"}) {
    config ? ::setenv("XDG_CONFIG_HOME", config, 1) : ::unsetenv("XDG_CONFIG_HOME");
    stored.StoreRegistry("Software\\Valtrex\\Port");
    EXPECT_TRUE(fs::exists(dir_ / "home/.config/Software/Valtrex/Port.ini"));
    fs::remove_all(dir_ / "home");
  }
}

TEST_F(Storage, RegistryFailuresAreRegistryErrors) {
  fs::create_directories(dir_ / "config");
  WriteFile(dir_ / "config/Bad.ini", "DataBits=7\nParity=Sometimes\n");
  TComPort port;
  struct Case {
    std::function<void()> action;
    int error;
    const char* says;
  };
  for (const auto& c : {Case{[&] { port.LoadRegistry("Software\\None"); }, ENOENT, "no key"},
                        Case{[&] { port.StoreRegistry("Software\\..\\x"); }, EINVAL, "invalid"},
                        Case{[&] { port.StoreRegistry("\\"); }, EINVAL, "empty"},
                        Case{[&] { port.LoadRegistry("Bad"); }, -1, "Parity: \"Sometimes\""}}) {
    const EComPort e = Raised(c.action);
    EXPECT_EQ(e.ErrorCode(), ecode::kRegistry) << c.says;
    EXPECT_EQ(e.SystemErrorCode(), c.error) << c.says;
    EXPECT_NE(e.Message().find(c.says), std::string::npos) << e.Message();
  }
  EXPECT_EQ(port.DataBits(), dbEight);
}

}  // namespace
}  // namespace serial::test
