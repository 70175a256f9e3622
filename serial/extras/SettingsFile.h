#pragma once
// Whole-file reads and replacements for the settings files. Failures raise EComPort with the
// code the caller gives and the system's error value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Export.h"

namespace serial {

// The file's contents; none when there is no such file.
VALTREX_INTERNAL std::optional<std::string> ReadSettingsFile(const std::string& fileName, int32_t errorCode);

// Writes the contents to a new file beside the old one, forces it to the disk and renames it
// over the old one, so that a crash at any point leaves either the old file or the new one,
// whole. A file reached through a symbolic link is replaced where the link points. The folder
// must exist.
VALTREX_INTERNAL void ReplaceSettingsFile(const std::string& fileName, std::string_view contents, int32_t errorCode);

// Creates the folder and any folders above it that are missing, for the user alone.
VALTREX_INTERNAL void CreateSettingsFolder(const std::string& folder, int32_t errorCode);

}  // namespace serial
