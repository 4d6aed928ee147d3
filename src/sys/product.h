// Fixed places of the product on every host.
#pragma once

#include <string>

// Where the product is installed unless told otherwise, and its programs.
inline constexpr const char* kProductDir = "/opt/orv";
inline constexpr const char* kProductBinDir = "/opt/orv/bin";
// The log and the report of a run (a user other than root gets "_UID" added).
inline constexpr const char* kLogPath = "/var/log/Mivo4.0_UpdateLog";
inline constexpr const char* kReportPath = "/var/log/Mivo4.0_UpdateReport.json";

// The product's bin directory stands for the product directory itself.
inline std::string foldProductBinDir(const std::string& dir) { return dir == kProductBinDir ? kProductDir : dir; }
