// The stand-alone uninstall script left in the installation.
#pragma once

#include <string>
#include <vector>

// What the script may remove beyond the product's own files: directories
// whole only where the product made them.
struct UninstallScope {
  bool installDirMade = true;
  bool ppdDirMade = true;
  bool etcDirMade = true;
  bool binDirMade = true;
  // Where the installation directory is not the product's: the other files
  // it installs there, and the directories it makes there.
  std::vector<std::string> otherFiles;
  std::vector<std::string> otherDirs;
};

void writeUninstallScript(const UninstallScope& scope);

// The script text. date is the ctime text with its line feed; rm the
// command that removes. Paths that the shell would split or expand are
// quoted, and then the helper functions quote their argument too.
std::string uninstallScriptText(const std::string& rm, const std::string& installDir, const std::string& date,
                                const UninstallScope& scope = {});
