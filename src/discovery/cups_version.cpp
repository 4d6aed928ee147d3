// Placeholder until this unit is built; the run driver already calls it.
#include "discovery/cups_version.h"

int probeCupsVersion() { return 1400; }
int probeCupsHttpVersion() { return 0; }
int probeCupsLocalVersion() { return 1400; }
int normalizeCupsVersion(int v) { return v; }
std::optional<std::string> queryCupsDir(std::string_view) { return std::nullopt; }
std::string myTmpName(const std::string& dir, const char*) { return dir; }
