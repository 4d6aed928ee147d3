// One item of the install manifest.
#pragma once

#include <string>
#include <vector>

struct InstallItem {
  std::string source;
  std::string destination;
  int mode = 0;
  friend bool operator==(const InstallItem&, const InstallItem&) = default;
};

using InstallTable = std::vector<InstallItem>;
