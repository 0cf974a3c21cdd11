// Where the library keeps its files, and small file operations on them.
//
// The library's directory is "Halcyra/Measurement" under the data
// directory's Application Support directory; preferences suites lie in its
// Library/Preferences directory (platform::Paths::current() tells where the
// data directory is). Without a data directory the path functions report it
// (through the reporter installed with GWLSetPathsReporter) and answer the
// empty string.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/core/Error.h"

inline constexpr const char* kGWLMeasurementDirectoryName = "Halcyra/Measurement";

// Receives the path functions' reports: monitor level, message code, message.
using GWLPathsReporter = std::function<void(int64_t level, int64_t code, const std::string& message)>;
// Installs the reporter and answers the one it replaces (thread-safe). The
// library's monitor accessor (GWLLibraryMonitor) installs one that logs to the
// monitor; with none installed, reports are dropped.
GWLPathsReporter GWLSetPathsReporter(GWLPathsReporter reporter);

// Marks the file or directory at `path` as excluded from backup. This
// platform backs nothing up, so it only checks that the path exists.
[[nodiscard]] bool GWLExcludePathFromBackup(const std::string& path, platform::Error* error = nullptr);
// Library/Preferences/<name>.plist; empty for an empty name or without a data directory (report 19000).
std::string GWLPreferencesFilePath(const std::string& suiteName);
// Application Support/Halcyra/Measurement/<name>; empty for an empty name or
// without a data directory (report 19001).
std::string GWLMeasurementDirectoryPath(const std::string& name);
// As GWLMeasurementDirectoryPath, with the extension "plist" added when the name lacks it.
std::string GWLMeasurementPlistPath(const std::string& name);
// Removes the file at `path`; an empty path fails with code 1.
[[nodiscard]] bool GWLDeleteFileAtPath(const std::string& path, platform::Error* error = nullptr);
// Moves a suite's old preferences file into the library's directory, once.
// With both files present the old one is deleted and the new one kept.
// Answers whether the old file is gone from its old place.
[[nodiscard]] bool GWLMoveSuitePlistToMeasurementDirectory(const std::string& suiteName);
