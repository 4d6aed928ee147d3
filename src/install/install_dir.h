// The installation directory: made absolute and canonical before any use,
// and accepted only when it is new, empty and root's, the distribution tree
// itself, or an installation of the product that root owns. Anything else
// (a user's home, a directory of the system, what holds other files) is
// refused before anything changes, whatever its name.
#pragma once

#include <string>

enum class InstallDirRefusal {
  None,
  Empty,           // no name at all
  System,          // the root or a directory of the system itself
  NotRootOnly,     // someone other than root could change it or a directory above it
  NotADirectory,   // something else stands at the name
  NotTheProducts,  // it holds what is not the product's
};

struct InstallDirVerdict {
  std::string dir;  // canonical
  InstallDirRefusal refusal = InstallDirRefusal::None;
  bool exists = false;  // false: the product will make it
};
// Relative names are taken from base; sourceDir is the distribution tree of
// the run (an installation in place); recordedDir the installation directory
// the product's record names (empty without one).
InstallDirVerdict checkInstallDir(const std::string& dir, const std::string& base, const std::string& sourceDir,
                                  const std::string& recordedDir);

// "/", a standard top-level directory, or a standard directory of the
// system below /usr, /var, /etc and the like.
bool isSystemDirectory(const std::string& canonical);
