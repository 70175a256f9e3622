#pragma once
// The file-system calls of the settings files that a test plays instead of the system: a
// network share, and a scanner that holds the old file for a moment. The programs keep the
// system's own.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace serial {

struct TSettingsFileApi {
  decltype(&::CreateDirectoryA) CreateDirectoryA = &::CreateDirectoryA;
  decltype(&::GetFileAttributesA) GetFileAttributesA = &::GetFileAttributesA;
  decltype(&::MoveFileExA) MoveFileExA = &::MoveFileExA;
  decltype(&::Sleep) Sleep = &::Sleep;
};

// The table the settings files call through.
TSettingsFileApi& SettingsFileApi();

}  // namespace serial
