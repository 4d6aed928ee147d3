// The CUPS version and data directory of the host, and temporary files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

int probeCupsVersion();
int probeCupsHttpVersion();
int probeCupsLocalVersion();
// Brings a positive version to four digits (14 -> 1400, 24200 -> 2420).
int normalizeCupsVersion(int version);
// The CUPS directory for a key; only "datadir" is asked for.
std::optional<std::string> queryCupsDir(std::string_view key);
// Makes a new empty file "DIR/ZEBxxxxxx" and returns its path; ends the
// process with status 255 when it cannot.
std::string myTmpName(const std::string& dir, const char* name);
