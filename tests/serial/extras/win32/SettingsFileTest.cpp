// The settings files where the system plays them a network share, or a scanner that holds the
// old file while it is replaced.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "serial/ComError.h"
#include "serial/extras/SettingsFile.h"
#include "serial/extras/win32/SettingsFileApi.h"

namespace serial::test {
namespace {

namespace fs = std::filesystem;

// Folders are only noted, and the rename refuses as often as the script says; nothing sleeps.
struct TScriptedFiles {
  TScriptedFiles() : saved(SettingsFileApi()) {
    current = this;
    TSettingsFileApi& api = SettingsFileApi();
    api.CreateDirectoryA = [](LPCSTR path, LPSECURITY_ATTRIBUTES) -> BOOL {
      current->created.push_back(path);
      return TRUE;
    };
    api.GetFileAttributesA = [](LPCSTR) -> DWORD { return FILE_ATTRIBUTE_DIRECTORY; };
    api.MoveFileExA = [](LPCSTR from, LPCSTR to, DWORD flags) -> BOOL {
      ++current->renames;
      if (current->refusals > 0) {
        --current->refusals;
        SetLastError(current->refusal);
        return FALSE;
      }
      return ::MoveFileExA(from, to, flags);
    };
    api.Sleep = [](DWORD) { ++current->pauses; };
  }
  ~TScriptedFiles() { SettingsFileApi() = saved; }

  static inline TScriptedFiles* current = nullptr;
  const TSettingsFileApi saved;
  std::vector<std::string> created;
  int refusals = 0;
  DWORD refusal = 0;
  int renames = 0;
  int pauses = 0;
};

TEST(SettingsFile, FoldersAreCreatedBelowTheDriveOrTheShare) {
  using Paths = std::vector<std::string>;
  const struct {
    const char* folder;
    Paths created;
  } rows[] = {
      {"\\\\server\\share\\Valtrex\\Ports",
       Paths{"\\\\server\\share\\Valtrex", "\\\\server\\share\\Valtrex\\Ports"}},
      {"//server/share/Valtrex/", Paths{"//server/share/Valtrex"}},
      {"\\\\server\\share", Paths{}},
      {"C:\\Users\\op\\Valtrex", Paths{"C:\\Users", "C:\\Users\\op", "C:\\Users\\op\\Valtrex"}},
      {"\\Valtrex", Paths{"\\Valtrex"}},
  };
  for (const auto& row : rows) {
    TScriptedFiles files;
    CreateSettingsFolder(row.folder, ecode::kStoreSettings);
    EXPECT_EQ(files.created, row.created) << row.folder;
  }
}

TEST(SettingsFile, AReplacementHeldForAMomentIsTriedAgainAndThenGivenUp) {
  const fs::path dir =
      fs::temp_directory_path() / ("valtrex-settings-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(dir);
  const fs::path file = dir / "port.ini";
  const struct {
    DWORD refusal;
    int refusals;
    bool replaced;
    int renames;
  } rows[] = {
      {ERROR_SHARING_VIOLATION, 3, true, 4},
      {ERROR_ACCESS_DENIED, 1000, false, 10},  // held for good: about a second, then the error
      {ERROR_PATH_NOT_FOUND, 1000, false, 1},  // no reason to wait
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.refusal);
    std::ofstream(file) << "old";
    TScriptedFiles files;
    files.refusal = row.refusal;
    files.refusals = row.refusals;
    int32_t error = 0;
    try {
      ReplaceSettingsFile(file.string(), "new", ecode::kStoreSettings);
    } catch (const EComPort& e) {
      error = e.SystemErrorCode();
    }
    EXPECT_EQ(error, row.replaced ? 0 : static_cast<int32_t>(row.refusal));
    EXPECT_EQ(files.renames, row.renames);
    EXPECT_EQ(files.pauses, row.renames - 1);
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_EQ(text.str(), row.replaced ? "new" : "old");
    // A refused replacement leaves nothing of its own beside the file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace serial::test
