// The stand-alone uninstall script left in the installation.
#pragma once

#include <string>

void writeUninstallScript();

// The script text. date is the ctime text with its line feed; rm the
// command that removes. Paths that the shell would split or expand are
// quoted, and then the helper functions quote their argument too.
std::string uninstallScriptText(const std::string& rm, const std::string& installDir, const std::string& date);
