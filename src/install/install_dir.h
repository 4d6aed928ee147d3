// The installation directory: made absolute and canonical before any use,
// and refused when it is the root or a directory of the system itself,
// whose removal or overwriting would break the host.
#pragma once

#include <optional>
#include <string>

// The directory as a canonical absolute path (relative ones are taken from
// base), or the reason it is refused.
struct InstallDirVerdict {
  std::string dir;
  std::string refusal;  // empty when the directory may be used
};
InstallDirVerdict checkInstallDir(const std::string& dir, const std::string& base);

// "/", a top-level directory, or a standard directory of the system below
// /usr, /var, /etc and the like.
bool isSystemDirectory(const std::string& canonical);
