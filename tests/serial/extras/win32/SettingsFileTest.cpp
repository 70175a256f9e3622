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

}  // namespace
}  // namespace serial::test
