// The install manifest: which files an installation copies, where, and with
// which permission bits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct InstallItem {
  std::string source;
  std::string destination;
  int mode = 0;
};

using InstallTable = std::vector<InstallItem>;

// The items read by the last getInfoData, in manifest order.
InstallTable& installTable();

// Reads the manifest of the run settings into the install table; the item count.
int getInfoData();
